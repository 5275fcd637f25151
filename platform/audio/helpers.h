#pragma once

// Private to platform/audio: small pieces the engine and its outputs share.

#include <cerrno>

namespace bellboard::platform::audio {

// Repeats a system call that a signal interrupted (-1 with EINTR); returns its last result.
template<typename Call>
auto retryOnEintr(Call call)
{
    for (;;) {
        const auto result = call();
        if (!(result == -1 && errno == EINTR))
            return result;
    }
}

// Holds a sound library's loop lock for a scope: `Lock(loop)` on entry, `Unlock(loop)` on exit.
template<typename Loop, void (*Lock)(Loop *), void (*Unlock)(Loop *)>
class ScopedLock final
{
public:
    explicit ScopedLock(Loop *loop) : loop_(loop) { Lock(loop_); }
    ~ScopedLock() { Unlock(loop_); }
    ScopedLock(const ScopedLock &) = delete;
    ScopedLock &operator=(const ScopedLock &) = delete;

private:
    Loop *loop_;
};

} // namespace bellboard::platform::audio
