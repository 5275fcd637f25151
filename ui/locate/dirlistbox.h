#pragma once

#include "platform/folderlist.h"

#include <QTreeWidget>

namespace bellboard {

// The folder list: the open folder's ancestors from the root down, the open folder, and
// its subfolders one level further in. A double-click (or Enter) opens the folder under
// it. `changed` is raised whenever the open folder changes, by the user or by setPath.
class DirListBox final : public QTreeWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DirListBox)

public:
    static constexpr int PathRole = Qt::UserRole;

    explicit DirListBox(QWidget *parent = nullptr);

    // The open folder, absolute and in native form; a root keeps its separator ("/").
    QString path() const { return m_path; }
    // Opens `folder`. Fails, leaving everything as it was, when it is not an existing
    // folder. Opening the folder already open changes nothing and raises nothing.
    bool setPath(const QString &folder);

    bool loading() const { return m_lister.busy() || m_start.isActive(); }

    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;

signals:
    void changed();
    void listed(); // every subfolder of the open folder is shown

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // Levels show by indentation alone; nothing here folds, so no fold arrows.
    void drawBranches(QPainter *, const QRect &, const QModelIndex &) const override {}

private:
    void open(QTreeWidgetItem *item);
    void addSubfolders(const QStringList &names);

    QString m_path;
    QTreeWidgetItem *m_open = nullptr;
    platform::FolderLister m_lister;
    QTimer m_start;
};

// `folder` and `name` joined by one separator, none added after a root's own.
QString childPath(const QString &folder, const QString &name);

} // namespace bellboard
