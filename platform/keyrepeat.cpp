#include "platform/keyrepeat.h"

#include <QGuiApplication>

#include <cstdlib>

// The C header names a field "explicit", a keyword in C++.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace bellboard::platform {

bool sendKeyRepeatsAsPresses()
{
    const auto *x11
        = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    // Qt has set up XKB on its connection already; asking again is cheap and makes sure.
    xcb_xkb_use_extension_reply_t *use = xcb_xkb_use_extension_reply(
        connection, xcb_xkb_use_extension(connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION),
        nullptr);
    const bool haveXkb = use && use->supported;
    std::free(use);
    if (!haveXkb)
        return false;
    constexpr uint32_t detectable = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    xcb_xkb_per_client_flags_reply_t *flags = xcb_xkb_per_client_flags_reply(
        connection,
        xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD, detectable, detectable, 0, 0,
                                 0),
        nullptr);
    const bool done = flags && (flags->value & detectable);
    std::free(flags);
    return done;
}

} // namespace bellboard::platform
