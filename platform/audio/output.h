#pragma once

// Private to platform/: where the engine's sound goes. One implementation per backend; the
// engine tries them in the order of `backends` and keeps the first that opens.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace bellboard::platform::audio {

// What an output plays: the engine's current sound, as interleaved stereo float at the
// output's rate. Called by one output thread at a time, never concurrently.
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

    // Copies up to `frames` frames of the current sound into `out`; never blocks. With
    // `startNew`, a sound the engine has started since replaces the current one first; an
    // output that keeps a queue passes it only when it drops that queue.
    virtual Pulled pull(float *out, std::size_t frames, bool startNew) = 0;

protected:
    ~Source() = default;
};

class Output
{
public:
    virtual ~Output() = default;

    // Connects, asleep: ready to wake at once, but keeping neither the server nor the sound
    // card busy. False when this backend cannot play here; returns within about two seconds
    // whatever the system does.
    virtual bool open() = 0;
    // False once the connection or the device is gone; the engine then opens a new output.
    virtual bool alive() const = 0;
    // A sound is about to play: undoes sleep(), so that restart() is heard at once.
    virtual void wake() = 0;
    // The source has a new sound: whatever of the old one is queued is dropped, and the new
    // one plays from its first frame as soon as the output can. Wakes the output if need be.
    virtual void restart() = 0;
    // Nothing plays for now; the output may stop waking up.
    virtual void rest() {}
    // Nothing has played for a while: the server and the sound card may go to sleep.
    virtual void sleep() = 0;

    virtual const char *name() const = 0;
    // True for a fallback that plays where no sound server answered: the engine looks for
    // one again now and then, since a server may start after the program.
    virtual bool standsInForServer() const { return false; }
    virtual int rate() const = 0;
    // Frames the output asks for at a time.
    virtual int periodFrames() const = 0;
    // Frames queued ahead of the speaker at most.
    virtual int queueFrames() const = 0;
};

std::unique_ptr<Output> makePipeWireOutput(Source &source);
std::unique_ptr<Output> makePulseOutput(Source &source);
std::unique_ptr<Output> makeSdlOutput(Source &source);

// Best first: PipeWire itself where its data thread gets real time, else the desktop's sound
// server through libpulse (PulseAudio, or PipeWire's PulseAudio layer, which queues for us),
// else SDL's own drivers (bare ALSA).
using OutputFactory = std::unique_ptr<Output> (*)(Source &);
inline constexpr OutputFactory backends[] = {makePipeWireOutput, makePulseOutput, makeSdlOutput};

} // namespace bellboard::platform::audio
