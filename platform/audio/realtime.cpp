#include "platform/audio/realtime.h"

#include <atomic>

#include <sched.h>

namespace bellboard::platform::audio {

namespace {

// What a desktop's sound server asks for its own threads is higher; ours only has to
// beat ordinary processes.
constexpr int wantedPriority = 5;

std::atomic<RealTimeBroker> broker{nullptr};

} // namespace

void setRealTimeBroker(RealTimeBroker b)
{
    broker.store(b, std::memory_order_release);
}

bool makeThreadRealTime(pid_t tid)
{
    sched_param param{};
    param.sched_priority = wantedPriority;
    if (sched_setscheduler(tid, SCHED_RR | SCHED_RESET_ON_FORK, &param) == 0)
        return true;
    const RealTimeBroker ask = broker.load(std::memory_order_acquire);
    return ask != nullptr && ask(tid, wantedPriority);
}

} // namespace bellboard::platform::audio
