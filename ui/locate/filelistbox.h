#pragma once

#include "platform/folderlist.h"

#include <QAbstractListModel>
#include <QListView>

class QLabel;

namespace bellboard {

// The names a file list shows, kept in the order they arrive.
class NameListModel final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NameListModel)

public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    void clear();
    void append(const QStringList &names);
    const QStringList &names() const { return m_names; }

private:
    QStringList m_names;
};

// The file list: the names in its folder that end in the pattern's extension, whatever
// their letter case, sorted. Reading happens off the window thread; a folder that cannot
// be read shows one message in place of the names.
class FileListBox final : public QListView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileListBox)

public:
    explicit FileListBox(const QString &suffix, QWidget *parent = nullptr);

    QString path() const { return m_path; }
    // Shows the files of `folder`; setting the folder already shown changes nothing.
    void setPath(const QString &folder);

    // The selected name alone, without folder; empty when nothing is selected.
    QString fileName() const;
    QStringList names() const { return m_model.names(); }
    // The message shown when the folder cannot be read; empty otherwise.
    QString message() const;
    bool loading() const { return m_lister.busy() || m_start.isActive(); }

signals:
    void fileDoubleClicked(); // anywhere in the list, like the classic control
    void listed();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void finish(const QString &error);

    QString m_path;
    NameListModel m_model;
    platform::FolderLister m_lister;
    QTimer m_start;
    QLabel *m_message;
};

} // namespace bellboard
