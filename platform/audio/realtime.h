#pragma once

// Private to platform/: real-time scheduling for the threads that feed the sound server.

#include <sys/types.h>

namespace bellboard::platform::audio {

// Gives thread `tid` of this process a modest real-time priority, the way a desktop does
// it: directly where the limits allow (RLIMIT_RTPRIO, root), else through rtkit on the
// system bus. False where neither is possible; playback works then too, as the server's
// queue is deep enough to ride out a late thread.
bool makeThreadRealTime(pid_t tid);

} // namespace bellboard::platform::audio
