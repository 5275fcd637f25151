#pragma once

namespace bellboard::platform {

// Whether a window system answers: a Wayland compositor or an X server that the environment
// names (or the usual first one of each), or any other platform chosen through
// QT_QPA_PLATFORM, which Qt is left to try. Call before the application object exists,
// which aborts the process when it finds no display.
bool haveDisplay();

} // namespace bellboard::platform
