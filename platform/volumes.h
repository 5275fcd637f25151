#pragma once

#include <QList>
#include <QString>

namespace bellboard::platform {

// A volume the user can pick: a mounted file system on Linux, a drive letter on Windows.
struct Volume
{
    QString root; // native form, ends in a separator: "/", "/media/stick/", "C:\"
    QString name; // the file system's label, may be empty
    bool ready = true;
};

// The machine's volumes, ordered by root. Pseudo file systems and mounts of single files
// are left out.
QList<Volume> mountedVolumes();

// Tests put a made-up set of volumes (roots in temporary folders, some not ready) in place
// of the machine's; an empty list restores the real ones.
void setVolumesOverride(const QList<Volume> &volumes);

// The root of the volume that holds `path`: the longest listed root that contains it.
QString volumeRootOf(const QString &path);

// Whether the volume can be read now (a drive with no medium cannot).
bool volumeReady(const QString &root);

// The folder last shown on the volume in this run, or its root. Like a drive's current
// folder on Windows, it belongs to the process and outlives the dialogs that set it.
// A remembered folder that has gone is replaced by its nearest existing ancestor.
QString currentFolderOn(const QString &root);
void setCurrentFolderOn(const QString &root, const QString &folder);
void forgetCurrentFolders();

// `path` itself when it is an existing folder, else its nearest existing ancestor; empty
// when none exists. The result is absolute and in native form.
QString nearestExistingFolder(const QString &path);

// The folder that holds `folder` (normalised); a root is its own parent.
QString parentFolder(const QString &folder);

// `path` made absolute, cleaned and in native form; a root keeps its trailing separator.
QString normalFolder(const QString &path);

} // namespace bellboard::platform
