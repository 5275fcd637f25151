#include "presets/presetfile.h"

#include "platform/pathcodec.h"
#include "platform/programinfo.h"

#include <QByteArray>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bellboard {

namespace {

enum class Op { Save, Load, Delete };

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// The folder part of an OS path.
QByteArray folderOf(const QByteArray &path)
{
    const qsizetype cut = path.lastIndexOf('/');
    if (cut < 0)
        return QByteArrayLiteral(".");
    if (cut == 0)
        return QByteArrayLiteral("/");
    return path.left(cut);
}

bool isFolder(const QByteArray &path)
{
    struct stat st = {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

int errorNumber(int err, Op op, const QByteArray &path)
{
    switch (err) {
    case ENOENT: {
        // A missing file is 53 only when its folder is there; a save creates the file, so
        // for it the folder is what is missing. The preset folder itself is made by the
        // first save, so before that every preset is simply not there yet.
        if (op == Op::Save)
            return PathNotFound;
        const QByteArray folder = folderOf(path);
        return isFolder(folder) || folder == platform::encodePath(platform::presetFolder())
                   ? FileNotFound
                   : PathNotFound;
    }
    case ENOTDIR:
    case ELOOP: return PathNotFound;
    case ENAMETOOLONG: return BadFileName;
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
    case EAGAIN: return PermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return DiskFull;
    case EIO: return DeviceIoError;
    case EMFILE:
    case ENFILE: return TooManyFiles;
    case ENOMEM: return OutOfMemory;
    case ENXIO:
    case ENODEV: return DeviceUnavailable;
    default: // EISDIR, EROFS and whatever else the system may say
        return PathFileAccess;
    }
}

// The OS form of a path; false when it holds a NUL, which no file name can.
bool osPath(const QString &path, QByteArray *out)
{
    *out = platform::encodePath(path);
    return !out->contains('\0');
}

int writeAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        p += n;
        left -= n;
    }
    return 0;
}

// One line as read, without its line end, into a pad's path.
int takeLine(QByteArray &line, QString &path)
{
    if (line.contains('\0'))
        return BadFileMode;
    path = platform::decodePath(line);
    line.clear();
    return NoError;
}

// A line ends at CR LF, at LF alone or at CR alone, as files from any system have them.
int readLines(int fd, const QByteArray &file, PadPaths &paths)
{
    char buf[16 * 1024];
    QByteArray line;
    int pad = 0;
    bool afterCr = false; // an LF right after a CR belongs to the same line end
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errorNumber(errno, Op::Load, file);
        }
        if (n == 0) {
            // A last line without a line end still counts.
            if (!line.isEmpty()) {
                if (const int err = takeLine(line, paths[pad]))
                    return err;
                ++pad;
            }
            return pad < kPadCount ? InputPastEnd : NoError;
        }
        for (ssize_t i = 0; i < n;) {
            if (afterCr) {
                afterCr = false;
                if (buf[i] == '\n') {
                    ++i;
                    continue;
                }
            }
            ssize_t end = i;
            while (end < n && buf[end] != '\n' && buf[end] != '\r')
                ++end;
            // Bounded before appending, so no file can make a line grow without limit.
            if (line.size() + (end - i) > kMaxLineBytes)
                return BadRecordLength;
            line.append(buf + i, end - i);
            if (end == n)
                break;
            afterCr = buf[end] == '\r';
            i = end + 1;
            if (const int err = takeLine(line, paths[pad]))
                return err;
            if (++pad == kPadCount)
                return NoError; // lines after the 54th are not read
        }
    }
}

} // namespace

QString presetPath(const QString &name)
{
    return platform::presetFolder() + platform::pathSeparator() + name + QStringLiteral(".pst");
}

int writePresetFile(const QString &path, const PadPaths &paths)
{
    QByteArray target;
    if (!osPath(path, &target))
        return BadFileName;

    // Every path must load back as the one line it is written as.
    QByteArray content;
    for (const QString &p : paths) {
        const QByteArray line = platform::encodePath(p);
        if (line.size() > kMaxLineBytes || line.contains('\n') || line.contains('\r')
            || line.contains('\0'))
            return BadRecordLength;
        content += line;
        content += "\r\n";
    }

    struct stat old = {};
    const bool exists = ::stat(target.constData(), &old) == 0;
    if (exists) {
        if (!S_ISREG(old.st_mode))
            return PathFileAccess;
        // Replacing by rename asks nothing of the old file's own permissions, and root
        // passes every check, so a read-only preset is recognised by its bits.
        if ((old.st_mode & kWriteBits) == 0)
            return PathFileAccess;
        if (::access(target.constData(), W_OK) != 0)
            return errorNumber(errno, Op::Save, target);
        // A preset that is a link: replace the file it points to, not the link.
        if (char *real = ::realpath(target.constData(), nullptr)) {
            target = real;
            std::free(real);
        }
    } else if (errno != ENOENT) {
        return errorNumber(errno, Op::Save, target);
    }

    // The temporary file lies beside the preset so that the rename cannot cross devices;
    // its name never ends in ".pst", so no listing shows it.
    const QByteArray folder = folderOf(target);
    static unsigned counter = 0;
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = folder + "/.bellboard-" + QByteArray::number(::getpid()) + '-'
               + QByteArray::number(++counter) + ".tmp";
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt == 100))
            return errorNumber(errno, Op::Save, target);
    }

    int err = 0;
    if (exists) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Only root may give a file away; the new preset then belongs to the user.
        }
        ::fchmod(fd, old.st_mode & 07777);
    }
    err = writeAll(fd, content);
    if (!err && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && !err && errno != EINTR)
        err = errno;
    if (!err && ::rename(temp.constData(), target.constData()) != 0)
        err = errno;
    if (err) {
        ::unlink(temp.constData());
        return errorNumber(err, Op::Save, target);
    }

    // Make the rename itself durable; the preset is already whole either way.
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return NoError;
}

int readPresetFile(const QString &path, PadPaths &paths, bool *opened)
{
    if (opened)
        *opened = false;
    QByteArray file;
    if (!osPath(path, &file))
        return BadFileName;
    // Non-blocking, so that a FIFO under a preset's name cannot hold the open.
    const int fd = ::open(file.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errorNumber(errno, Op::Load, file);
    struct stat st = {};
    int result = NoError;
    if (::fstat(fd, &st) != 0) {
        result = errorNumber(errno, Op::Load, file);
    } else if (!S_ISREG(st.st_mode)) {
        result = PathFileAccess; // a folder, a device, a FIFO
    } else {
        if (opened)
            *opened = true;
        result = readLines(fd, file, paths);
    }
    ::close(fd);
    return result;
}

int deletePresetFile(const QString &path)
{
    QByteArray file;
    if (!osPath(path, &file))
        return BadFileName;
    struct stat st = {};
    if (::stat(file.constData(), &st) != 0)
        return errorNumber(errno, Op::Delete, file);
    // Read-only presets are kept, as they are on a save: unlinking would not ask the file.
    if (S_ISDIR(st.st_mode) || (st.st_mode & kWriteBits) == 0)
        return PathFileAccess;
    if (::unlink(file.constData()) != 0)
        return errorNumber(errno, Op::Delete, file);
    return NoError;
}

QStringList listPresets(const QString &folder)
{
    QStringList names;
    QByteArray dirPath;
    if (!osPath(folder, &dirPath))
        return names;
    DIR *dir = ::opendir(dirPath.constData());
    if (!dir)
        return names;
    const int dfd = ::dirfd(dir);
    // Names are taken as bytes, so a preset whose name is not valid UTF-8 can still be
    // loaded and deleted by the text it is listed as.
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!name.endsWith(".pst"))
            continue;
        struct stat st = {};
        if (::fstatat(dfd, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        names.append(platform::decodePath(name.chopped(4)));
    }
    ::closedir(dir);
    return names;
}

} // namespace bellboard
