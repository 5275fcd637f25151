#include "ui/locate/clippednames.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

namespace bellboard {

bool ClippedNameDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                    const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip || !view || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const int shown = option.rect.intersected(view->viewport()->rect()).width();
    if (shown >= sizeHint(option, index).width())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view->viewport(),
                       option.rect);
    return true;
}

} // namespace bellboard
