#pragma once

#include <cstdint>

namespace bellboard::platform {

// Flags of PlaySoundA; the program itself only ever passes SND_ASYNC.
constexpr std::uint32_t SND_SYNC = 0x0000;
constexpr std::uint32_t SND_ASYNC = 0x0001;
constexpr std::uint32_t SND_NODEFAULT = 0x0002;
constexpr std::uint32_t SND_LOOP = 0x0008;
constexpr std::uint32_t SND_NOSTOP = 0x0010;
constexpr std::uint32_t SND_FILENAME = 0x00020000;

// Plays the wave file `name` (a path as 8-bit bytes in the file-name encoding) once.
// Returns at once; one sound at a time, and every call first cuts off the sound that is
// playing, whether or not the new file can be played. Nothing is reported: a file that
// cannot be played plays nothing. `module` is ignored. Returns 1 when the request was
// queued, 0 when `name` was null.
std::int32_t PlaySoundA(const char *name, void *module, std::uint32_t flags);

namespace audio {

// Connects to the sound output in the background, asleep, so the first play does not wait
// for it. Returns at once.
void prepare();

// The user is about to play a sound (a pad or Stop is pressed, not yet released): wakes the
// output, so the play that follows starts at once. Returns at once. A wake that no sound
// follows lets the output sleep again after a few seconds.
void warmUp();

} // namespace audio

} // namespace bellboard::platform
