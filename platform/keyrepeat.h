#pragma once

#include <QtGlobal>

namespace bellboard::platform {

// On X11 the server sends each repeat of a held key as a release and a press with one
// timestamp, which Qt joins into a repeat only when it finds both already read; on a busy
// machine the press often comes in a later read, so the key seems to go up and down again.
// This asks the server for repeats as presses alone, so a button that acts on release acts
// once, when the key comes up, and follows the raw key events to know which presses repeat a
// held key. Other window systems flag their repeats through Qt already; there it does nothing.
void watchKeyRepeats();

// Whether the press of `nativeScanCode` at `timestamp` (as a key event carries them) repeats a
// key held down; false for every press that watchKeyRepeats() has not seen.
bool isKeyRepeat(quint32 nativeScanCode, quint64 timestamp);

} // namespace bellboard::platform
