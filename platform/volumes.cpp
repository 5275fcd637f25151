#include "platform/volumes.h"

#include "platform/folderlist.h"

#include <QDir>
#include <QHash>
#include <QStorageInfo>

#include <algorithm>

namespace bellboard::platform {

namespace {

QList<Volume> &volumesOverride()
{
    static QList<Volume> volumes;
    return volumes;
}

QHash<QString, QString> &currentFolders()
{
    static QHash<QString, QString> folders;
    return folders;
}

QString withTrailingSeparator(QString root)
{
    if (!root.endsWith(QDir::separator()))
        root += QDir::separator();
    return root;
}

// Whether `root` (ending in a separator) contains `path` (normalised), or is it.
bool contains(const QString &root, const QString &path)
{
    const Qt::CaseSensitivity cs =
#if defined(Q_OS_WIN)
        Qt::CaseInsensitive;
#else
        Qt::CaseSensitive;
#endif
    return withTrailingSeparator(path).startsWith(root, cs);
}

} // namespace

QString normalFolder(const QString &path)
{
    QString clean = QDir::cleanPath(QDir(path).absolutePath());
    clean = QDir::toNativeSeparators(clean);
    // "C:" alone would mean the drive's current folder; the root is meant.
    if (clean.size() == 2 && clean.at(1) == QLatin1Char(':'))
        clean += QDir::separator();
    return clean;
}

QString parentFolder(const QString &folder)
{
    const qsizetype cut = folder.lastIndexOf(QDir::separator());
    if (cut < 0)
        return folder;
    QString parent = folder.left(cut);
    if (parent.isEmpty() || (parent.size() == 2 && parent.at(1) == QLatin1Char(':')))
        parent += QDir::separator(); // "/" or "C:\"
    return parent == folder ? folder : parent;
}

QList<Volume> mountedVolumes()
{
    if (!volumesOverride().isEmpty())
        return volumesOverride();
    QList<Volume> out;
    for (const QStorageInfo &info : QStorageInfo::mountedVolumes()) {
        const QString root = withTrailingSeparator(QDir::toNativeSeparators(info.rootPath()));
        // Containers bind single files (/etc/hosts) as mounts; they hold no folders.
        if (!isFolder(root))
            continue;
        const bool dup = std::any_of(out.cbegin(), out.cend(),
                                     [&](const Volume &v) { return v.root == root; });
        if (!dup)
            out.append({root, info.name(), info.isReady()});
    }
    std::sort(out.begin(), out.end(), [](const Volume &a, const Volume &b) {
        return a.root.compare(b.root, Qt::CaseInsensitive) < 0;
    });
    return out;
}

void setVolumesOverride(const QList<Volume> &volumes)
{
    volumesOverride() = volumes;
}

QString volumeRootOf(const QString &path)
{
    const QString folder = normalFolder(path);
    QString best;
    for (const Volume &v : mountedVolumes()) {
        if (v.root.size() > best.size() && contains(v.root, folder))
            best = v.root;
    }
    if (best.isEmpty() && volumesOverride().isEmpty())
        best = withTrailingSeparator(QDir::toNativeSeparators(QStorageInfo(folder).rootPath()));
    return best;
}

bool volumeReady(const QString &root)
{
    if (!volumesOverride().isEmpty()) {
        for (const Volume &v : volumesOverride()) {
            if (v.root == root)
                return v.ready && isFolder(root);
        }
        return false;
    }
    const QStorageInfo info(root);
    return info.isValid() && info.isReady() && isFolder(root);
}

QString currentFolderOn(const QString &root)
{
    const QString remembered = currentFolders().value(root);
    if (!remembered.isEmpty()) {
        const QString existing = nearestExistingFolder(remembered);
        if (!existing.isEmpty() && contains(root, existing))
            return existing;
    }
    return root;
}

void setCurrentFolderOn(const QString &root, const QString &folder)
{
    currentFolders().insert(root, folder);
}

void forgetCurrentFolders()
{
    currentFolders().clear();
}

QString nearestExistingFolder(const QString &path)
{
    if (path.isEmpty())
        return {};
    QString folder = normalFolder(path);
    for (;;) {
        if (isFolder(folder))
            return folder;
        const QString parent = parentFolder(folder);
        if (parent == folder)
            return {};
        folder = parent;
    }
}

} // namespace bellboard::platform
