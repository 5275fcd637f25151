#include "app/heldkeys.h"

#include "platform/keyrepeat.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>

namespace bellboard {

namespace {

// Sees each key press where the window system hands it to a window, before any widget or
// shortcut, and flags the ones that repeat a held key but came unflagged.
class RepeatFlagger final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if ((event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
            || !watched->isWindowType())
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->isAutoRepeat() || !platform::isKeyRepeat(key->nativeScanCode(), key->timestamp()))
            return false;
        if (event->type() == QEvent::ShortcutOverride) {
            // Taken here, so shortcuts see this press once: as the flagged repeat sent below.
            event->accept();
            return true;
        }
        QKeyEvent flagged(QEvent::KeyPress, key->key(), key->modifiers(), key->nativeScanCode(),
                          key->nativeVirtualKey(), key->nativeModifiers(), key->text(), true,
                          key->count(), key->device());
        flagged.setTimestamp(key->timestamp());
        QCoreApplication::sendEvent(watched, &flagged);
        event->setAccepted(flagged.isAccepted());
        return true;
    }
};

} // namespace

void pressHeldKeysOnce()
{
    static QPointer<RepeatFlagger> flagger;
    if (flagger)
        return;
    flagger = new RepeatFlagger(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(flagger);
    platform::watchKeyRepeats();
}

} // namespace bellboard
