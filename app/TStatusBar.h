#pragma once

#include <QString>
#include <QWidget>

#include <vector>

// A status bar along the bottom edge of its parent. In single-text mode it shows SimpleText
// only; its panels keep their texts but are not drawn.
class TStatusBar : public QWidget {
public:
    struct TStatusPanel {
        QString Text;
        int Width = 50;
        Qt::Alignment Alignment = Qt::AlignLeft;
    };

    explicit TStatusBar(QWidget* parent);

    const QString& SimpleText() const { return simpleText_; }
    void SetSimpleText(const QString& text);
    bool SimplePanel() const { return simplePanel_; }
    void SetSimplePanel(bool simple);
    bool SizeGrip() const { return false; }

    std::vector<TStatusPanel> Panels;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void followParent();

    QString simpleText_;
    bool simplePanel_ = true;
};
