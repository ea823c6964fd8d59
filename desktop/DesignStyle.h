#pragma once

#include <QProxyStyle>

// The application's style with one change: text that Qt's own widgets draw (labels, tabs) in the
// bold bitmap face is emboldened as DesignFont describes.
class DesignStyle : public QProxyStyle {
    Q_OBJECT

public:
    using QProxyStyle::QProxyStyle;

    void drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette,
                      bool enabled, const QString& text,
                      QPalette::ColorRole textRole = QPalette::NoRole) const override;
};
