#pragma once

// Private to platform/ and its tests and benchmarks: what the sound engine can tell about
// itself. The program only ever calls PlaySoundA.

#include <cstdint>

namespace bellboard::platform::audio {

struct EngineStats
{
    std::uint64_t callbacks = 0;   // periods the device asked for
    std::uint64_t underruns = 0;   // periods in which a playing sound ran out of decoded data
    std::uint64_t started = 0;     // sounds that reached the device
    std::uint64_t deviceOpens = 0; // times the device was (re)opened
    std::uint64_t holds = 0;       // times a quiet device was stopped while kept open
    bool held = false;             // the device is open but stopped, as nothing plays
    int deviceRate = 0;            // 0 while no device is open
    int periodFrames = 0;
};

EngineStats engineStats();

// True while a sound is queued, playing or fading out.
bool soundActive();

// Opens the device in the background now rather than at the first sound.
void warmUp();

} // namespace bellboard::platform::audio
