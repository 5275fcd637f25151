#pragma once

namespace bellboard::platform {

// Asks the X server to send a held key's repeats as presses alone. By default it sends each
// as a release and a press with one timestamp, which Qt joins into a repeat only when it
// finds both already read; on a busy machine the press often comes in a later read, so the
// key seems to go up and down again. True once the server does so; false on any other
// window system, whose repeats Qt flags itself.
bool sendKeyRepeatsAsPresses();

} // namespace bellboard::platform
