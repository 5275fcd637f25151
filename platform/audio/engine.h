#pragma once

// Private to platform/ and its tests and benchmarks: the sound engine behind PlaySoundA, and
// what it can tell about itself. The program only ever calls PlaySoundA.

#include <cstdint>

namespace bellboard::platform::audio {

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
    const char *output = nullptr;  // "pipewire", "pulse" or "sdl"; null while none is open
};

// Cuts off the sound that plays and starts `name` (a path in the file-name encoding) in the
// background; returns at once.
void play(const char *name);

EngineStats engineStats();

// True while a sound is queued, playing or fading out.
bool soundActive();

} // namespace bellboard::platform::audio
