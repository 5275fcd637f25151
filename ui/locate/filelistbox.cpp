#include "ui/locate/filelistbox.h"

#include "ui/locate/clippednames.h"

#include <QLabel>
#include <QMouseEvent>

namespace bellboard {

int NameListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_names.size());
}

QVariant NameListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_names.size())
        return {};
    return m_names.at(index.row());
}

void NameListModel::clear()
{
    beginResetModel();
    m_names.clear();
    endResetModel();
}

void NameListModel::append(const QStringList &names)
{
    if (names.isEmpty())
        return;
    const int first = int(m_names.size());
    beginInsertRows({}, first, first + int(names.size()) - 1);
    m_names.append(names);
    endInsertRows();
}

FileListBox::FileListBox(const QString &suffix, QWidget *parent)
    : QListView(parent), m_lister(platform::FolderLister::Kind::Files, suffix),
      m_message(new QLabel(viewport()))
{
    setModel(&m_model);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new ClippedNameDelegate(this));
    m_message->setObjectName(QStringLiteral("File1Message"));
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_message->setMargin(3);
    m_message->hide();
    connect(&m_lister, &platform::FolderLister::namesArrived, &m_model, &NameListModel::append);
    connect(&m_lister, &platform::FolderLister::finished, this, &FileListBox::finish);
    // See DirListBox: a path set twice in a row is read once.
    m_start.setSingleShot(true);
    m_start.setInterval(0);
    connect(&m_start, &QTimer::timeout, this, [this] { m_lister.list(m_path); });
}

void FileListBox::setPath(const QString &folder)
{
    if (folder == m_path)
        return;
    m_path = folder;
    m_lister.cancel();
    m_message->hide();
    m_message->clear();
    m_model.clear();
    m_start.start();
}

QString FileListBox::fileName() const
{
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QString()
                              : m_model.data(selected.first(), Qt::DisplayRole).toString();
}

QString FileListBox::message() const
{
    return m_message->isHidden() ? QString() : m_message->text();
}

void FileListBox::finish(const QString &error)
{
    if (!error.isEmpty()) {
        m_message->setText(tr("This folder cannot be read: %1").arg(error));
        m_message->setGeometry(viewport()->rect());
        m_message->show();
    }
    emit listed();
}

void FileListBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    QListView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit fileDoubleClicked();
}

void FileListBox::resizeEvent(QResizeEvent *event)
{
    QListView::resizeEvent(event);
    m_message->setGeometry(viewport()->rect());
}

} // namespace bellboard
