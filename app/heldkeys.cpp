#include "app/heldkeys.h"

#include "platform/keyrepeat.h"

#include <QCoreApplication>
#include <QHash>
#include <QKeyEvent>
#include <QPointer>
#include <QSet>

namespace bellboard {

namespace {

// Sees each key event once, where the window system hands it to a window, before any widget.
// On X11 the server sends repeats as presses alone (no release, so Space cannot act early),
// and Qt leaves them unflagged: a press of a key that is already down is flagged here. Where
// the server cannot do that, a press with the timestamp of the key's last release is a repeat
// too, so Enter at least acts once.
class RepeatFlagger final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ApplicationStateChange) {
            // A key that comes up while another program has the focus sends us no release.
            if (static_cast<QApplicationStateChangeEvent *>(event)->applicationState()
                != Qt::ApplicationActive)
                m_down.clear();
            return false;
        }
        if ((event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
            || !watched->isWindowType())
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->isAutoRepeat())
            return false;
        const quint32 id = key->nativeScanCode() ? key->nativeScanCode() : quint32(key->key());
        if (event->type() == QEvent::KeyRelease) {
            m_down.remove(id);
            m_releasedAt.insert(id, key->timestamp());
            return false;
        }
        const bool repeat
            = m_down.contains(id)
              || (key->timestamp() != 0 && m_releasedAt.value(id) == key->timestamp());
        m_down.insert(id);
        if (!repeat)
            return false;
        QKeyEvent flagged(QEvent::KeyPress, key->key(), key->modifiers(), key->nativeScanCode(),
                          key->nativeVirtualKey(), key->nativeModifiers(), key->text(), true,
                          key->count(), key->device());
        flagged.setTimestamp(key->timestamp());
        QCoreApplication::sendEvent(watched, &flagged);
        event->setAccepted(flagged.isAccepted());
        return true;
    }

private:
    QSet<quint32> m_down;                 // keys held, by scan code where there is one
    QHash<quint32, quint64> m_releasedAt; // each key's last release, by event timestamp
};

} // namespace

void pressHeldKeysOnce()
{
    static QPointer<RepeatFlagger> flagger;
    if (flagger)
        return;
    flagger = new RepeatFlagger(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(flagger);
    platform::sendKeyRepeatsAsPresses();
}

} // namespace bellboard
