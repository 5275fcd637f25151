#include "audiodetect.h"

#include <cmath>
#include <numbers>

namespace bellboard::test {

double toneAmplitude(const float *samples, std::size_t count, double frequency, double rate)
{
    if (count == 0)
        return 0.0;
    const double w = 2.0 * std::numbers::pi * frequency / rate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0.0;
    double s2 = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double s0 = samples[i] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double re = s1 - s2 * std::cos(w);
    const double im = s2 * std::sin(w);
    return 2.0 * std::sqrt(re * re + im * im) / static_cast<double>(count);
}

double rms(const float *samples, std::size_t count)
{
    if (count == 0)
        return 0.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / static_cast<double>(count));
}

ToneSpan findTone(const std::vector<float> &samples, double frequency, double rate,
                  std::size_t window, double minAmplitude)
{
    ToneSpan span;
    for (std::size_t at = 0; at + window <= samples.size(); at += window) {
        const double a = toneAmplitude(samples.data() + at, window, frequency, rate);
        const double r = rms(samples.data() + at, window);
        if (a < minAmplitude || a * a / 2.0 < 0.6 * r * r)
            continue;
        if (span.windows++ == 0)
            span.first = at;
        span.last = at + window;
    }
    return span;
}

std::size_t firstSound(const std::vector<float> &samples, float threshold)
{
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (std::fabs(samples[i]) > threshold)
            return i;
    return samples.size();
}

} // namespace bellboard::test
