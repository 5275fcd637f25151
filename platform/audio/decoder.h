#pragma once

// Private to platform/: a wave file decoded to stereo at the output's rate.

#include <cstddef>
#include <memory>
#include <string>

namespace bellboard::platform::audio {

class Resampler;
class WaveReader;

class Decoder final
{
public:
    ~Decoder();
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    // nullptr when the file is not one that plays (see WaveReader::open).
    static std::unique_ptr<Decoder> open(const std::string &path, int outputRate);

    // Up to `frames` interleaved stereo frames at the output rate; 0 at the end or on an error.
    std::size_t read(float *out, std::size_t frames);

private:
    Decoder() = default;

    std::unique_ptr<WaveReader> reader_;
    std::unique_ptr<Resampler> resampler_; // null when the rates are the same
    std::unique_ptr<float[]> input_;
};

} // namespace bellboard::platform::audio
