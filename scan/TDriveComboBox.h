#pragma once

#include <QComboBox>
#include <QImage>
#include <QPixmap>

#include <array>
#include <functional>
#include <string>
#include <vector>

enum TTextCase { tcLowerCase, tcUpperCase };

// The glyphs of the drive kinds, in the order of the drive types 2 to 6.
enum TDriveGlyph { dgFloppy, dgHard, dgNetwork, dgCdRom, dgRam, dgNone = -1 };

// A drop-down list of the machine's drives: one line per drive with a small picture of the
// kind of drive and the letter followed by the volume label (or, for a network drive, the
// share it is connected to). The selected drive is kept as one letter, DriveLetter.
class TDriveComboBox : public QComboBox {
public:
    struct Line {
        std::string text;
        TDriveGlyph glyph;
    };

    explicit TDriveComboBox(QWidget* parent = nullptr);

    // The selected drive in the case of TextCase, or 0 for none.
    char DriveLetter() const { return driveLetter_; }
    void SetDriveLetter(char letter);
    TTextCase TextCase() const { return textCase_; }
    void SetTextCase(TTextCase textCase);
    // The larger of the font's text height and the glyphs' height.
    int ItemHeight() const { return itemHeight_; }

    const std::vector<Line>& Lines() const { return lines_; }

    // Builds the lines afresh from the drives present now and selects DriveLetter's line,
    // as when the control's window is created.
    void RecreateWnd();

    // The change event of the list: fires whenever DriveLetter is set to a new drive.
    std::function<void(QObject* Sender)> OnChange;

    // A glyph as drawn: 16 by 11 pixels in the 16 standard colours; the colour of its
    // bottom-left pixel stands for transparent.
    static QImage GlyphImage(TDriveGlyph glyph);
    static constexpr int kGlyphWidth = 16;
    static constexpr int kGlyphHeight = 11;

    // Draws a line in rect as the list shows it; for the delegate and the closed box alike.
    void drawLine(QPainter& painter, const QRect& rect, int index, bool selected) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildLines();
    void updateItemHeight();
    void lineActivated(int index);
    std::string bracketedLabel(char letter) const;
    std::string caseConverted(const std::string& text) const;

    char driveLetter_ = 0;
    TTextCase textCase_ = tcLowerCase;
    int itemHeight_ = kGlyphHeight;
    std::vector<Line> lines_;
    std::array<QPixmap, 5> glyphs_;
};
