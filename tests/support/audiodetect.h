#pragma once

// Finding a tone in a recording: Goertzel's single-frequency DFT over short windows.

#include <cstddef>
#include <vector>

namespace bellboard::test {

// Amplitude of the component at `frequency` in `count` samples.
double toneAmplitude(const float *samples, std::size_t count, double frequency, double rate);

// Root mean square of `count` samples.
double rms(const float *samples, std::size_t count);

struct ToneSpan
{
    std::size_t windows = 0; // windows in which the tone carries most of the energy
    std::size_t first = 0;   // first sample of the first such window
    std::size_t last = 0;    // one past the last sample of the last such window
    double seconds(double rate) const { return windows == 0 ? 0.0 : double(last - first) / rate; }
};

// Splits `samples` into windows of `window` samples; a window holds the tone when its
// amplitude at `frequency` is at least `minAmplitude` and carries 60% of its energy or more.
ToneSpan findTone(const std::vector<float> &samples, double frequency, double rate,
                  std::size_t window = 480, double minAmplitude = 0.05);

// First sample whose magnitude exceeds `threshold`, or samples.size().
std::size_t firstSound(const std::vector<float> &samples, float threshold = 0.01f);

} // namespace bellboard::test
