#pragma once

// Private to platform/: where the engine's sound goes. One implementation per backend; the
// engine is given an ordered list of them and keeps the first that opens.
//
// Threads: the engine's controller thread makes, opens, drives and destroys an output; the
// output's own thread (its sound library's callback or loop thread) pulls from the Source.
// No other thread touches an output. The controller may block in an output's calls, but
// never for long: a click waits behind them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace bellboard::platform::audio {

// The output rates every backend accepts from its server or device; anything else is taken
// for a misreport, and the output plays at `fallbackRate`.
inline constexpr int lowestRate = 8000;
inline constexpr int highestRate = 384000;
inline constexpr int fallbackRate = 48000;

constexpr int usableRate(int rate)
{
    return rate >= lowestRate && rate <= highestRate ? rate : fallbackRate;
}

// What an output plays: the engine's current sound, as interleaved stereo float at the
// output's rate.
class Source
{
public:
    enum class State {
        Idle,    // nothing to play
        Playing, // more will come
        Waiting, // the sound is not decoded that far yet; ask again soon
        Ended,   // the sound's last frame is in this pull
    };
    struct Pulled
    {
        std::size_t frames = 0;
        State state = State::Idle;
    };

    // Called on the output's own thread only, one call at a time, and only between the
    // output's first wake() or restart() and its destruction. Copies up to `frames` frames
    // of the current sound into `out`; never blocks, locks or allocates. With `startNew`, a
    // sound the engine has started since replaces the current one first; an output that
    // keeps a queue passes it only when it drops that queue.
    virtual Pulled pull(float *out, std::size_t frames, bool startNew) = 0;

protected:
    ~Source() = default;
};

// Every method, the destructor included, is called on the engine's controller thread.
class Output
{
public:
    // Stops the output's thread, or at least its pulling, before it returns: once it has
    // returned the Source is never called through this output again. May block until the
    // output's thread is joined.
    virtual ~Output() = default;

    // Connects, asleep: ready to wake at once, but keeping neither the server nor the sound
    // card busy, and not pulling (the output it replaces may still be). False when this
    // backend cannot play here. Blocks on the server, about two seconds at most whatever the
    // system does. rate(), periodFrames() and queueFrames() hold from here on.
    virtual bool open() = 0;
    // False once the connection or the device is gone, or the output can no longer play at
    // rate(); the engine then destroys it and opens a new one. Never blocks.
    virtual bool alive() const = 0;
    // A sound is about to play: undoes sleep(), so that restart() is heard at once. May
    // pull from here on. Blocks only on the output's own lock, never on the server.
    virtual void wake() = 0;
    // The source has a new sound: whatever of the old one is queued is dropped, and the new
    // one plays from its first frame as soon as the output can, pulled on the output's
    // thread with `startNew`. Wakes the output if need be. Blocks as wake() does.
    virtual void restart() = 0;
    // Nothing plays for now; the output may stop waking up. It stays ready to play at once.
    // Blocks as wake() does.
    virtual void rest() {}
    // Nothing has played for a while: the server and the sound card may go to sleep.
    // Blocks as wake() does.
    virtual void sleep() = 0;

    // The rest never block, and hold while the output lives.
    virtual const char *name() const = 0;
    // True for a fallback that plays where no sound server answered: the engine looks for
    // one again now and then, since a server may start after the program.
    virtual bool standsInForServer() const { return false; }
    // The rate the engine decodes for; fixed once open() returned true.
    virtual int rate() const = 0;
    // Frames the output asks for at a time.
    virtual int periodFrames() const = 0;
    // Frames queued ahead of the speaker at most.
    virtual int queueFrames() const = 0;
};

// Makes an output that pulls from `source` (not yet open).
using OutputFactory = std::function<std::unique_ptr<Output>(Source &source)>;

std::unique_ptr<Output> makePipeWireOutput(Source &source);
std::unique_ptr<Output> makePulseOutput(Source &source);
std::unique_ptr<Output> makeSdlOutput(Source &source);

} // namespace bellboard::platform::audio
