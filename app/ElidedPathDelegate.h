#pragma once

#include <QStyledItemDelegate>

class QFontMetrics;

// Draws the rows of a narrow list of full paths so that the file names, which users pick by,
// stay in view: a path too wide for its row loses letters from the middle of its folders
// ("d:\photos\…\2019\beach.jpg"), and from its file name only when the name alone is too
// wide. Each row is as wide as the list, so the list never scrolls sideways; the whole path
// is the row's tooltip. Only what is drawn changes: the rows keep their texts and data.
class ElidedPathDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The form of path that fits width pixels of metrics' font.
    static QString elide(const QString& path, const QFontMetrics& metrics, int width);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
