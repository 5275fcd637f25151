#include "platform/display.h"

#include <QByteArray>
#include <QList>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace bellboard::platform {

namespace {

// Connects to a Unix socket, at `path` or, with `abstract`, in the abstract namespace.
bool answers(const QByteArray &path, bool abstract = false)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.isEmpty() || std::size_t(path.size()) + offset >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path + offset, path.constData(), std::size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr *>(&address), length) == 0;
    ::close(fd);
    return connected;
}

bool haveWayland()
{
    // A compositor that started us may hand over a connected socket instead of a name.
    if (!qgetenv("WAYLAND_SOCKET").isEmpty())
        return true;
    QByteArray name = qgetenv("WAYLAND_DISPLAY");
    if (name.isEmpty())
        name = "wayland-0";
    if (name.startsWith('/'))
        return answers(name);
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && answers(runtime + '/' + name);
}

bool haveX11()
{
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype colon = display.lastIndexOf(':');
    if (colon < 0)
        return false;
    const QByteArray host = display.left(colon);
    if (!host.isEmpty() && host != "unix")
        return true; // over the network: only Qt can tell
    QByteArray number = display.mid(colon + 1);
    number.truncate(number.indexOf('.') < 0 ? number.size() : number.indexOf('.'));
    const QByteArray socket = "/tmp/.X11-unix/X" + number;
    return answers(socket) || answers(socket, true);
}

} // namespace

bool haveDisplay()
{
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    for (const QByteArray &platform : chosen.split(';')) {
        const QByteArray name = platform.left(platform.indexOf(':'));
        if (!name.isEmpty() && !name.startsWith("wayland") && name != "xcb")
            return true;
    }
    return haveWayland() || haveX11();
}

} // namespace bellboard::platform
