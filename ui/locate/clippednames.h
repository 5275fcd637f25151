#pragma once

#include <QStyledItemDelegate>

namespace bellboard {

// Draws names as usual; a name that the list shows only in part (cut short by the narrow
// list, or scrolled partly out of sight) gets a tool tip with the whole name.
class ClippedNameDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ClippedNameDelegate)

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;
};

} // namespace bellboard
