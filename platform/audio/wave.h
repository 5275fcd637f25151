#pragma once

// Private to platform/: reading wave files for the sound engine.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace bellboard::platform::audio {

// True when the first bytes of a file are a RIFF/RIFX/RF64 WAVE header or a Wave64 header.
bool isWaveHeader(const unsigned char *bytes, std::size_t size);

// Left/right gains for each source channel, from the channel positions of the file.
struct Mixdown
{
    static constexpr int maxChannels = 32;
    int channels = 0;
    std::array<float, maxChannels> left{};
    std::array<float, maxChannels> right{};
};

// Standard speaker positions, in the order that WAVE_FORMAT_EXTENSIBLE assigns them.
enum class Speaker {
    FrontLeft,
    FrontRight,
    FrontCenter,
    Lfe,
    BackLeft,
    BackRight,
    FrontLeftOfCenter,
    FrontRightOfCenter,
    BackCenter,
    SideLeft,
    SideRight,
    TopCenter,
    TopFrontLeft,
    TopFrontCenter,
    TopFrontRight,
    TopBackLeft,
    TopBackCenter,
    TopBackRight,
    Unknown
};

// A stereo mix of `count` speakers; rows are scaled so that a signal present in every
// channel in phase comes out at its own level, never louder.
Mixdown stereoMixdown(const Speaker *speakers, int count);

// The usual layout of a file with `count` channels that names none.
void defaultSpeakers(int count, Speaker *speakers);

class WaveReader final
{
public:
    ~WaveReader();
    WaveReader(const WaveReader &) = delete;
    WaveReader &operator=(const WaveReader &) = delete;

    // Opens `path` if it is a regular file with a wave header in one of the encodings and
    // shapes the engine plays (1,000 to 768,000 Hz, 1 to 32 channels, at least one frame);
    // nullptr otherwise. Never blocks on pipes or devices.
    static std::unique_ptr<WaveReader> open(const std::string &path);

    int sampleRate() const { return rate_; }

    // Reads up to `frames` frames mixed to interleaved stereo; 0 at the end or on an error.
    std::size_t readStereo(float *out, std::size_t frames);

private:
    WaveReader() = default;

    // Integer PCM that libsndfile does not read: containers of 5 to 8 bytes, or containers
    // wider than the bits stated need. Read here, straight from the file.
    struct RawPcm
    {
        std::uint64_t next = 0; // file offset of the next frame
        std::uint64_t end = 0;  // one past the last whole frame
        std::size_t container = 0;
        std::size_t frameBytes = 0;
        std::uint64_t keep = 0; // the sample's bits, at the top of 64
        bool bigEndian = false;
        bool offsetBinary = false; // one-byte samples are unsigned
    };

    std::size_t readRaw(float *samples, std::size_t frames);

    int fd_ = -1;
    void *file_ = nullptr; // SNDFILE; null when raw_ is read instead
    int rate_ = 0;
    Mixdown mix_;
    static constexpr std::size_t blockFrames = 1024;
    std::unique_ptr<float[]> block_;
    RawPcm raw_;
    std::unique_ptr<unsigned char[]> bytes_;
};

} // namespace bellboard::platform::audio
