#pragma once

// Private to platform/: rtkit, the desktop's real-time broker, over the system bus.

#include <sys/types.h>

namespace bellboard::platform {

// Asks rtkit to make thread `tid` of this process real-time at `priority` (or rtkit's
// highest, if lower). False where there is no bus, no rtkit, or it refuses.
bool askRtkit(pid_t tid, int priority);

} // namespace bellboard::platform
