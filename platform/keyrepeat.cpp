#include "platform/keyrepeat.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QPointer>

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdlib>
#include <utility>

// The C header names a field "explicit", a keyword in C++.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace bellboard::platform {

namespace {

// Sees every key event the server sends, before Qt reads it, even those that Qt then drops
// because a modal dialog blocks their window.
class XKeyWatcher final : public QObject, public QAbstractNativeEventFilter
{
public:
    XKeyWatcher(xcb_connection_t *connection, QObject *parent)
        : QObject(parent), m_connection(connection)
    {}

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        switch (static_cast<const xcb_generic_event_t *>(message)->response_type & 0x7f) {
        case XCB_KEY_PRESS: {
            const auto *key = static_cast<const xcb_key_press_event_t *>(message);
            // Held, a key sends no release between its presses; where the server cannot do
            // that, the release before a repeat carries the repeat's timestamp.
            if (m_down.test(key->detail) || m_releasedAt[key->detail] == key->time) {
                std::shift_left(m_repeats.begin(), m_repeats.end(), 1);
                m_repeats.back() = {key->detail, key->time};
            }
            m_down.set(key->detail);
            break;
        }
        case XCB_KEY_RELEASE: {
            const auto *key = static_cast<const xcb_key_release_event_t *>(message);
            m_down.reset(key->detail);
            m_releasedAt[key->detail] = key->time;
            break;
        }
        case XCB_FOCUS_IN: readHeldKeys(); break;
        }
        return false;
    }

    bool isRepeat(quint32 keycode, quint64 time) const
    {
        return std::find(m_repeats.begin(), m_repeats.end(), std::pair{keycode, time})
               != m_repeats.end();
    }

private:
    // A key that came up while another program had the focus sent its release there.
    void readHeldKeys()
    {
        xcb_query_keymap_reply_t *keymap
            = xcb_query_keymap_reply(m_connection, xcb_query_keymap(m_connection), nullptr);
        if (!keymap)
            return;
        for (std::size_t code = 0; code < m_down.size(); ++code)
            m_down[code] = (keymap->keys[code / 8] >> (code % 8)) & 1;
        std::free(keymap);
    }

    xcb_connection_t *m_connection;
    std::bitset<256> m_down;                         // by keycode
    std::array<xcb_timestamp_t, 256> m_releasedAt{}; // each key's last release
    // The latest repeats, newest last; Qt may read several events before it delivers one.
    std::array<std::pair<quint32, quint64>, 32> m_repeats{};
};

QPointer<XKeyWatcher> watcher;

// Asks for repeats as presses alone; true once the server sends them so.
bool sendRepeatsAsPresses(xcb_connection_t *connection)
{
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

} // namespace

void watchKeyRepeats()
{
    const auto *x11
        = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (watcher || !connection)
        return;
    watcher = new XKeyWatcher(connection, qGuiApp);
    qGuiApp->installNativeEventFilter(watcher);
    sendRepeatsAsPresses(connection);
}

bool isKeyRepeat(quint32 nativeScanCode, quint64 timestamp)
{
    return watcher && watcher->isRepeat(nativeScanCode, timestamp);
}

} // namespace bellboard::platform
