#include "platform/folderlist.h"

#include "platform/pathcodec.h"

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#if defined(Q_OS_WIN)
#include <QDirIterator>
#include <QFileInfo>
#else
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace bellboard::platform {

// Shared by the owner and its worker thread. The worker never outlives its use of the
// owner: it posts only while `owner` is set, under the mutex, and the owner clears it
// before it goes. A worker stuck in a slow file system is left behind, not waited for.
struct FolderLister::Job
{
    std::mutex mutex;
    FolderLister *owner = nullptr;
    std::deque<QStringList> batches;
    bool done = false;
    QString error;
    std::atomic<bool> cancelled{false};
};

namespace {

struct Result
{
    QStringList names;
    QString error;
};

bool wanted(const QString &name, FolderLister::Kind kind, const QString &suffix)
{
    // Hidden names are left out, as the desktop's own file choosers do.
    if (name.startsWith(QLatin1Char('.')))
        return false;
    if (kind == FolderLister::Kind::Folders)
        return true;
    return name.endsWith(suffix, Qt::CaseInsensitive);
}

#if defined(Q_OS_WIN)

Result readFolder(const QString &folder, FolderLister::Kind kind, const QString &suffix,
                  const std::atomic<bool> &cancelled)
{
    Result r;
    QDir dir(folder);
    if (!dir.exists() || !dir.isReadable()) {
        r.error = QStringLiteral("This folder cannot be read.");
        return r;
    }
    const QDir::Filters filters = (kind == FolderLister::Kind::Folders ? QDir::Dirs : QDir::Files)
                                  | QDir::System | QDir::NoDotAndDotDot;
    QDirIterator it(folder, filters);
    while (it.hasNext() && !cancelled.load(std::memory_order_relaxed)) {
        it.next();
        const QString name = it.fileName();
        if (wanted(name, kind, suffix))
            r.names.append(name);
    }
    return r;
}

#else

Result readFolder(const QString &folder, FolderLister::Kind kind, const QString &suffix,
                  const std::atomic<bool> &cancelled)
{
    Result r;
    DIR *dir = ::opendir(encodePath(folder).constData());
    if (!dir) {
        r.error = QString::fromLocal8Bit(std::strerror(errno));
        return r;
    }
    const int fd = ::dirfd(dir);
    while (!cancelled.load(std::memory_order_relaxed)) {
        errno = 0;
        const dirent *e = ::readdir(dir);
        if (!e) {
            if (errno != 0)
                r.error = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        const char *n = e->d_name;
        if (n[0] == '.') // ".", ".." and hidden names
            continue;
        unsigned char type = e->d_type;
        // Links count as what they point to; some file systems leave the type unknown.
        if (type == DT_LNK || type == DT_UNKNOWN) {
            struct stat st = {};
            if (::fstatat(fd, n, &st, 0) != 0)
                continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type != (kind == FolderLister::Kind::Folders ? DT_DIR : DT_REG))
            continue;
        const QString name = decodePath(QByteArray(n));
        if (wanted(name, kind, suffix))
            r.names.append(name);
    }
    ::closedir(dir);
    return r;
}

#endif

// Case-insensitive order, with letter case breaking ties so that the order is total.
void sortNames(QStringList &names)
{
    std::vector<std::pair<QString, QString>> keyed;
    keyed.reserve(names.size());
    for (QString &n : names)
        keyed.emplace_back(n.toCaseFolded(), std::move(n));
    std::sort(keyed.begin(), keyed.end());
    names.clear();
    for (auto &k : keyed)
        names.append(std::move(k.second));
}

} // namespace

bool isFolder(const QString &path)
{
#if defined(Q_OS_WIN)
    return QFileInfo(path).isDir();
#else
    struct stat st = {};
    return !path.isEmpty() && ::stat(encodePath(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

FolderLister::FolderLister(Kind kind, const QString &suffix, QObject *parent)
    : QObject(parent), m_kind(kind), m_suffix(suffix)
{
    m_drain.setInterval(0);
    connect(&m_drain, &QTimer::timeout, this, &FolderLister::deliver);
}

FolderLister::~FolderLister()
{
    cancel();
}

void FolderLister::cancel()
{
    m_drain.stop();
    if (!m_job)
        return;
    m_job->cancelled = true;
    const std::lock_guard lock(m_job->mutex);
    m_job->owner = nullptr;
    m_job.reset();
}

void FolderLister::list(const QString &folder)
{
    cancel();
    auto job = std::make_shared<Job>();
    job->owner = this;
    m_job = job;
    std::thread([job, folder, kind = m_kind, suffix = m_suffix] {
        Result r = readFolder(folder, kind, suffix, job->cancelled);
        if (job->cancelled)
            return;
        sortNames(r.names);
        std::deque<QStringList> batches;
        for (qsizetype i = 0; i < r.names.size(); i += kBatchSize)
            batches.push_back(r.names.mid(i, kBatchSize));
        const std::lock_guard lock(job->mutex);
        if (!job->owner)
            return;
        job->batches = std::move(batches);
        job->error = r.error;
        job->done = true;
        QMetaObject::invokeMethod(
            job->owner,
            [owner = job->owner, job] {
                if (owner->m_job == job)
                    owner->m_drain.start();
            },
            Qt::QueuedConnection);
    }).detach();
}

void FolderLister::deliver()
{
    // A few batches per turn of the event loop, then back to the loop.
    QElapsedTimer clock;
    clock.start();
    const std::shared_ptr<Job> job = m_job;
    while (job && m_job == job && clock.elapsed() < 8) {
        QStringList batch;
        bool last = false;
        {
            const std::lock_guard lock(job->mutex);
            if (!job->batches.empty()) {
                batch = std::move(job->batches.front());
                job->batches.pop_front();
            }
            last = job->batches.empty() && job->done;
        }
        if (!batch.isEmpty())
            emit namesArrived(batch);
        // A receiver may have started another listing meanwhile; this one is then dropped.
        if (last && m_job == job) {
            m_drain.stop();
            m_job.reset();
            emit finished(job->error);
            return;
        }
    }
}

} // namespace bellboard::platform
