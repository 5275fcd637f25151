#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace bellboard::platform {

// Whether `path` names an existing folder (a link to one counts); names keep their bytes.
bool isFolder(const QString &path);

// Lists the folders, or the files with one extension, of a folder on a thread of its own,
// so that a folder of a hundred thousand names never holds up the window. The names are
// sorted without regard to letter case and handed over in batches, a few per turn of the
// event loop, so input is answered between them. Names that are not valid in the
// file-name encoding keep their bytes (see pathcodec.h). Hidden names (starting with a dot)
// are left out.
class FolderLister final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FolderLister)

public:
    enum class Kind { Folders, Files };

    // `suffix` selects files whose name ends in it, in any letter case; Folders ignores it.
    explicit FolderLister(Kind kind, const QString &suffix = {}, QObject *parent = nullptr);
    ~FolderLister() override;

    // Starts listing `folder`; a listing still running is dropped and reports nothing more.
    void list(const QString &folder);
    void cancel();
    bool busy() const { return m_job != nullptr; }

    static constexpr int kBatchSize = 1000;

signals:
    void namesArrived(const QStringList &names);
    // Every name has arrived; `error` is empty, or says why the folder could not be read.
    void finished(const QString &error);

private:
    struct Job;
    void deliver();

    Kind m_kind;
    QString m_suffix;
    std::shared_ptr<Job> m_job;
    QTimer m_drain;
};

} // namespace bellboard::platform
