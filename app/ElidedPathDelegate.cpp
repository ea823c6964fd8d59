#include "app/ElidedPathDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

namespace {

constexpr QChar kSeparator = u'\\';

// The room for text in a row: the row less the margins the style draws text within.
int textWidth(const QStyleOptionViewItem& option)
{
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option.widget) + 1;
    return option.rect.width() - 2 * margin;
}

} // namespace

QString ElidedPathDelegate::elide(const QString& path, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(path) <= width)
        return path;
    const qsizetype cut = path.lastIndexOf(kSeparator);
    const QString name = path.mid(cut + 1);
    const QString tail = cut < 0 ? name : kSeparator + name;
    const QString ellipsis(QChar(0x2026));
    const int folderRoom = width - metrics.horizontalAdvance(tail);
    if (cut <= 0 || folderRoom < metrics.horizontalAdvance(ellipsis))
        return metrics.elidedText(name, Qt::ElideMiddle, width);
    return metrics.elidedText(path.left(cut), Qt::ElideMiddle, folderRoom) + tail;
}

QSize ElidedPathDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const
{
    // As wide as the list shows, however long the path: the text is shortened instead.
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget))
        size.setWidth(view->viewport()->width());
    return size;
}

void ElidedPathDelegate::initStyleOption(QStyleOptionViewItem* option,
                                         const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = elide(option->text, option->fontMetrics, textWidth(*option));
    option->textElideMode = Qt::ElideNone;
}

bool ElidedPathDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                   const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view,
                       view->visualRect(index));
    return true;
}
