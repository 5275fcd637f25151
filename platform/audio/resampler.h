#pragma once

// Private to platform/: sample-rate conversion of a stereo stream.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace bellboard::platform::audio {

// Band-limited interpolation with a Kaiser-windowed sinc. Going down, the cut-off follows
// the output's Nyquist frequency, so nothing folds back into the audible band; going up,
// it follows the input's, so no images of the steps between samples are heard. The first
// output frame is the first input frame (no filter delay), and the last one is the sound's
// end. Memory is fixed at construction, whatever the length of the stream.
class Resampler final
{
public:
    Resampler(int inRate, int outRate);
    ~Resampler();
    Resampler(const Resampler &) = delete;
    Resampler &operator=(const Resampler &) = delete;

    // Input frames that write() takes now.
    std::size_t room() const { return capacity_ - filled_; }

    // Appends `frames` interleaved stereo frames, at most room().
    void write(const float *stereo, std::size_t frames);

    // No more input: the stream ends after what was written.
    void finish() { finished_ = true; }

    // Writes up to `frames` interleaved stereo frames at the output rate; fewer when it needs
    // more input first, 0 once all of the stream is out.
    std::size_t read(float *stereo, std::size_t frames);

    bool done() const;

private:
    // Weights of the taps for an output frame `offset` (0 to 1) input frames past centre_.
    void computeWeights(double offset, float *weights) const;
    const float *weights();
    void compact();

    const std::int64_t inRate_;
    const std::int64_t outRate_;
    const std::int64_t stepWhole_;
    const std::int64_t stepFraction_;
    double crossingsPerSample_; // zero crossings of the sinc per input sample
    std::size_t half_;          // taps on each side of an output frame
    std::size_t taps_;
    std::size_t capacity_;
    std::unique_ptr<float[]> left_;
    std::unique_ptr<float[]> right_;
    std::int64_t base_;      // input frame at left_[0]
    std::size_t filled_;     // frames held from there
    std::int64_t written_;   // input frames written in all
    std::int64_t centre_;    // input frame at or just before the next output frame
    std::int64_t fraction_;  // and how far past it, in 1/outRate_ of a frame
    std::int64_t phaseUnit_; // fraction_ is always a multiple of this
    bool exact_;             // a row of weights for every phase; else rows to interpolate
    std::size_t rows_;
    std::unique_ptr<float[]> bank_;
    std::unique_ptr<float[]> scratch_;
    bool finished_ = false;
};

} // namespace bellboard::platform::audio
