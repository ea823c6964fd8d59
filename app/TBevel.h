#pragma once

#include <QWidget>

// A decorative frame drawn in the button-face shades: a lowered or raised box, or one line.
class TBevel : public QWidget {
public:
    enum TBevelShape { bsBox, bsFrame, bsTopLine };
    enum TBevelStyle { bsLowered, bsRaised };

    TBevel(QWidget* parent, TBevelShape shape, TBevelStyle style);

    TBevelShape Shape() const { return shape_; }
    TBevelStyle Style() const { return style_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TBevelShape shape_;
    TBevelStyle style_;
};
