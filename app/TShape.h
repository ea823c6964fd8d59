#pragma once

#include <QColor>
#include <QWidget>

// A filled rectangle with a one-pixel border in the pen colour.
class TShape : public QWidget {
public:
    TShape(QWidget* parent, QColor brush, QColor pen);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor brush_;
    QColor pen_;
};
