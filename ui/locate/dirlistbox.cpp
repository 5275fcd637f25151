#include "ui/locate/dirlistbox.h"

#include "platform/volumes.h"
#include "ui/locate/clippednames.h"

#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>

namespace bellboard {

QString childPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QDir::separator()) ? folder + name : folder + QDir::separator() + name;
}

DirListBox::DirListBox(QWidget *parent)
    : QTreeWidget(parent), m_lister(platform::FolderLister::Kind::Folders)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setUniformRowHeights(true);
    setIndentation(8);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // The column grows with the deepest row and the list scrolls sideways. Kept to the list's
    // width, rows indented past it would lie outside every column, where neither a click nor
    // the keyboard's selection finds them, and the open folder would lose its highlight.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setItemDelegate(new ClippedNameDelegate(this));
    connect(this, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem *item) { open(item); });
    connect(&m_lister, &platform::FolderLister::namesArrived, this, &DirListBox::addSubfolders);
    connect(&m_lister, &platform::FolderLister::finished, this, &DirListBox::listed);
    // Listing starts on the next turn of the event loop, so a path set twice in a row
    // (the start folder, then the remembered one) is read once.
    m_start.setSingleShot(true);
    m_start.setInterval(0);
    connect(&m_start, &QTimer::timeout, this, [this] { m_lister.list(m_path); });
}

bool DirListBox::setPath(const QString &folder)
{
    if (!platform::isFolder(folder))
        return false;
    const QString target = platform::normalFolder(folder);
    if (target == m_path)
        return true;

    QStringList chain; // from the open folder up to the root
    for (QString p = target;;) {
        chain.prepend(p);
        const QString parent = platform::parentFolder(p);
        if (parent == p)
            break;
        p = parent;
    }

    m_lister.cancel();
    clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    QTreeWidgetItem *parentItem = nullptr;
    for (const QString &p : chain) {
        const QString text = parentItem ? p.mid(p.lastIndexOf(QDir::separator()) + 1) : p;
        auto *item = parentItem ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(this);
        item->setText(0, text);
        item->setIcon(0, openIcon);
        item->setData(0, PathRole, p);
        item->setExpanded(true);
        parentItem = item;
    }
    m_open = parentItem;
    setCurrentItem(m_open);
    m_path = target;
    m_start.start();
    emit changed();
    return true;
}

void DirListBox::addSubfolders(const QStringList &names)
{
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QList<QTreeWidgetItem *> items;
    items.reserve(names.size());
    for (const QString &name : names) {
        auto *item = new QTreeWidgetItem;
        item->setText(0, name);
        item->setIcon(0, closedIcon);
        item->setData(0, PathRole, childPath(m_path, name));
        items.append(item);
    }
    m_open->addChildren(items);
    m_open->setExpanded(true);
}

void DirListBox::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    QTreeWidget::scrollTo(index, hint);
    if (!index.isValid())
        return;
    // The column width and the scroll range may still wait for a delayed resize.
    header()->resizeSections(QHeaderView::ResizeToContents);
    updateGeometries();
    // Sideways, the view would show the start of the whole column; show the row's own name.
    const int room = viewport()->width();
    const int left = visualRect(index).left();
    const int width = sizeHintForIndex(index).width();
    int shift = 0;
    if (left < 0 || width >= room)
        shift = left;
    else if (left + width > room)
        shift = left + width - room;
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + shift);
}

void DirListBox::open(QTreeWidgetItem *item)
{
    if (item)
        setPath(item->data(0, PathRole).toString());
}

void DirListBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        open(currentItem());
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

} // namespace bellboard
