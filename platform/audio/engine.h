#pragma once

// Private to platform/ and its tests and benchmarks: the sound engine behind PlaySoundA, and
// what it can tell about itself. The program only ever calls PlaySoundA.

#include "platform/audio/output.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include <semaphore.h>

namespace bellboard::platform::audio {

// How long the output stays awake after the last sound ended, or after a wake that no sound
// followed, before it lets the server and the sound card sleep.
inline constexpr int idleSleepMs = 3000;

struct EngineStats
{
    std::uint64_t callbacks = 0;   // times the output asked for sound
    std::uint64_t underruns = 0;   // times a playing sound had not been decoded far enough
    std::uint64_t started = 0;     // sounds that reached the output
    std::uint64_t deviceOpens = 0; // times an output was (re)opened
    bool held = false;             // the output is open and resting, as nothing plays
    bool asleep = false;           // the output is open and asleep (a stream corked)
    std::uint64_t sleeps = 0;      // times the output went to sleep
    int deviceRate = 0;            // 0 while no output is open
    int periodFrames = 0;          // what the output asks for at a time
    int queueFrames = 0;           // what it keeps queued ahead at most
    const char *output = nullptr;  // the open output's name(); null while none is open
};

// The engine's sense of time: the idle time before sleep, how long a new sound's start may
// take, when to look for a server again. Called on the controller thread only.
class Clock
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual TimePoint now() = 0;
    // Until `signal` is posted (taking the post) or now() reaches `until`.
    virtual void waitUntil(sem_t &signal, TimePoint until) = 0;

    // The monotonic clock.
    static Clock &system();

protected:
    ~Clock() = default;
};

// One sound at a time: each play cuts off the sound before it. Every call returns at once
// and may come from any thread; the engine's own threads do the work.
//
// Threads, all owned by the engine and joined by its destructor:
//  - the controller owns the output: opens it, reopens it when its server went away, rests
//    and sleeps it, and starts one decoder per sound;
//  - a decoder opens and decodes its file into the sound's ring buffer, so a file that
//    stalls holds up nothing but its own thread. Each is started ahead, after the sound
//    before it, and waits for its file;
//  - the output's thread pulls the current sound from its ring.
class Engine final
{
public:
    // `outputs`, best first: the engine keeps the first that opens.
    explicit Engine(std::vector<OutputFactory> outputs, Clock &clock = Clock::system());
    // Closes the output and joins every thread. A decoder stuck in a stalled read holds
    // this up until the read returns.
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // Cuts off the sound that plays and starts `name` (a path in the file-name encoding).
    void play(const char *name);
    // Connects to the output, asleep, so the first play does not wait for it.
    void prepare();
    // A play is about to come: wakes the output.
    void warmUp();

    EngineStats stats() const;
    // True while a sound is queued, playing or fading out.
    bool active() const;

private:
    class Controller;
    std::unique_ptr<Controller> controller_;
};

} // namespace bellboard::platform::audio
