#pragma once

#include "app/module1.h"

#include <QString>
#include <QStringList>

#include <array>

namespace bellboard {

// The error numbers a preset operation reports after "File Error#": the classic run-time
// file error numbers, so a number means the same as it always has.
enum PresetError : int {
    NoError = 0,
    OutOfMemory = 7,      // the system refused memory for the operation
    BadFileName = 52,     // the name cannot be a file name: it holds a NUL or is too long
    FileNotFound = 53,    // load or delete: no file of that name
    BadFileMode = 54,     // load: the file holds a NUL byte, so it is not a text file of paths
    DeviceIoError = 57,   // the device failed to read or write
    BadRecordLength = 59, // load: a line over kMaxLineBytes; save: a path that cannot be one line
    DiskFull = 61,        // save: no space left (or the file-size limit reached)
    InputPastEnd = 62,    // load: the file ends before its 54th line
    TooManyFiles = 67,    // no file descriptor left
    DeviceUnavailable = 68,
    PermissionDenied = 70, // locked, busy, or not permitted for this user
    PathFileAccess = 75,   // a folder, a read-only file, a read-only file system, anything else
    PathNotFound = 76,     // a folder on the path does not exist
};

// Longest line a preset may hold. Far beyond any path; it bounds what a load reads into
// memory whatever the file is.
constexpr qsizetype kMaxLineBytes = 64 * 1024;

using PadPaths = std::array<QString, kPadCount>;

// platform::presetFolder(), the separator, the name exactly as given, then ".pst".
QString presetPath(const QString &name);

// Writes the 54 lines to `path`, replacing an existing file only once every byte is safely
// on disk: a failed write leaves the old file as it was and no temporary file behind.
// Returns NoError or the error number.
int writePresetFile(const QString &path, const PadPaths &paths);

// Reads up to 54 lines of `path` into `paths`, entry by entry; a line ends at CR LF, LF or
// CR alone. On failure the entries read so far stay filled and the others are left as they
// were. `opened`, when given, tells whether a file was open for reading at all: when it is
// false nothing of `paths` was touched. Returns NoError or the number.
int readPresetFile(const QString &path, PadPaths &paths, bool *opened = nullptr);

// Deletes the preset file at `path`. A read-only preset is not deleted (75).
int deletePresetFile(const QString &path);

// The names (without ".pst") of the regular files in `folder` whose name ends exactly in
// ".pst", in the order the folder listing returns them. Empty when it cannot be listed.
QStringList listPresets(const QString &folder);

} // namespace bellboard
