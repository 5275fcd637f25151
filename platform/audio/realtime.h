#pragma once

// Private to platform/: real-time scheduling for the threads that feed the sound server.

#include <sys/types.h>

namespace bellboard::platform::audio {

// Asks the desktop's real-time broker to give thread `tid` of this process real-time
// priority `priority`; false where it will not. The engine speaks no bus protocol itself:
// the program hands it one.
using RealTimeBroker = bool (*)(pid_t tid, int priority);

// Set before the engine starts; none by default. May be called from any thread.
void setRealTimeBroker(RealTimeBroker broker);

// Gives thread `tid` of this process a modest real-time priority, the way a desktop does
// it: directly where the limits allow (RLIMIT_RTPRIO, root), else through the broker.
// False where neither is possible; playback works then too, as the server's queue is deep
// enough to ride out a late thread.
bool makeThreadRealTime(pid_t tid);

} // namespace bellboard::platform::audio
