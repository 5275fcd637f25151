#include "platform/audio/resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <numeric>
#include <vector>

namespace bellboard::platform::audio {

namespace {

// Zero crossings of the sinc on each side, and the window's shape: about 86 dB down in the
// stop band, the transition about a tenth of the cut-off wide on either side of it.
constexpr int crossings = 24;
constexpr double kaiserBeta = 8.6;
// The cut-off, as a share of the lower Nyquist frequency: at 48 kHz the pass band is flat to
// 19 kHz and whatever lies above 24 kHz cannot fold back below 23.9 kHz.
constexpr double rolloff = 0.9;
// Table entries per zero crossing; linear interpolation between them is good to -100 dB.
constexpr int tableResolution = 512;
// Weights precomputed: for every phase when that is at most this many (256 KB), as for the
// common rates and every integer ratio; otherwise for as many evenly spaced phases as fit,
// interpolated between.
constexpr std::size_t bankLimit = 65536;
// Input frames taken at a time beyond what the filter spans.
constexpr std::size_t chunkFrames = 4096;

double besselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 64 && term > sum * 1e-12; ++k) {
        const double h = x / (2.0 * k);
        term *= h * h;
        sum += term;
    }
    return sum;
}

// sinc(u) under the window, for u from 0 to `crossings` zero crossings.
const std::vector<float> &kernelTable()
{
    static const std::vector<float> table = [] {
        std::vector<float> t(crossings * tableResolution + 2, 0.f);
        const double norm = besselI0(kaiserBeta);
        for (int i = 0; i <= crossings * tableResolution; ++i) {
            const double u = double(i) / tableResolution;
            const double x = u / crossings;
            const double window
                = besselI0(kaiserBeta * std::sqrt(std::max(0.0, 1.0 - x * x))) / norm;
            const double sinc
                = i == 0 ? 1.0 : std::sin(std::numbers::pi * u) / (std::numbers::pi * u);
            t[std::size_t(i)] = float(sinc * window);
        }
        return t;
    }();
    return table;
}

float kernel(const std::vector<float> &table, double u)
{
    u = std::fabs(u);
    if (u >= crossings)
        return 0.f;
    const double at = u * tableResolution;
    const auto i = static_cast<std::size_t>(at);
    const auto f = static_cast<float>(at - double(i));
    return table[i] + f * (table[i + 1] - table[i]);
}

} // namespace

Resampler::Resampler(int inRate, int outRate)
    : inRate_(inRate), outRate_(outRate), stepWhole_(inRate_ / outRate_),
      stepFraction_(inRate_ % outRate_)
{
    const double lower = std::min(1.0, double(outRate_) / double(inRate_));
    crossingsPerSample_ = rolloff * lower;
    half_ = static_cast<std::size_t>(std::ceil(crossings / crossingsPerSample_));
    taps_ = 2 * half_;
    capacity_ = taps_ + chunkFrames;
    left_.reset(new float[capacity_]());
    right_.reset(new float[capacity_]());
    // Silence before the first frame, so the first output frame is centred on it.
    base_ = 1 - std::int64_t(half_);
    filled_ = half_ - 1;
    written_ = 0;
    centre_ = 0;
    fraction_ = 0;
    phaseUnit_ = std::gcd(inRate_, outRate_);
    const auto phases = static_cast<std::size_t>(outRate_ / phaseUnit_);
    exact_ = phases * taps_ <= bankLimit;
    // Interpolated rows run from offset 0 to 1 inclusive.
    rows_ = exact_ ? phases : std::max<std::size_t>(bankLimit / taps_, 3);
    bank_.reset(new float[rows_ * taps_]);
    for (std::size_t p = 0; p < rows_; ++p) {
        const double offset = exact_ ? double(std::int64_t(p) * phaseUnit_) / double(outRate_)
                                     : double(p) / double(rows_ - 1);
        computeWeights(offset, bank_.get() + p * taps_);
    }
    scratch_.reset(new float[taps_]);
}

Resampler::~Resampler() = default;

void Resampler::computeWeights(double offset, float *weights) const
{
    const std::vector<float> &table = kernelTable();
    // Distance from the first tap to the output frame's instant, in input frames.
    const double first = double(half_ - 1) + offset;
    float sum = 0.f;
    for (std::size_t j = 0; j < taps_; ++j) {
        weights[j] = kernel(table, (first - double(j)) * crossingsPerSample_);
        sum += weights[j];
    }
    // Unity gain at every phase, so a constant stays constant: no ripple at the block rate.
    for (std::size_t j = 0; j < taps_; ++j)
        weights[j] /= sum;
}

const float *Resampler::weights()
{
    if (exact_)
        return bank_.get() + std::size_t(fraction_ / phaseUnit_) * taps_;
    const double at = double(fraction_) / double(outRate_) * double(rows_ - 1);
    const auto row = std::min(static_cast<std::size_t>(at), rows_ - 2);
    const auto f = static_cast<float>(at - double(row));
    const float *a = bank_.get() + row * taps_;
    const float *b = a + taps_;
    for (std::size_t j = 0; j < taps_; ++j)
        scratch_[j] = a[j] + f * (b[j] - a[j]);
    return scratch_.get();
}

void Resampler::compact()
{
    const std::int64_t firstNeeded = centre_ - std::int64_t(half_) + 1;
    const std::int64_t drop = firstNeeded - base_;
    if (drop <= 0)
        return;
    if (drop >= std::int64_t(filled_)) {
        base_ = firstNeeded;
        filled_ = 0;
        return;
    }
    const auto d = static_cast<std::size_t>(drop);
    std::memmove(left_.get(), left_.get() + d, (filled_ - d) * sizeof(float));
    std::memmove(right_.get(), right_.get() + d, (filled_ - d) * sizeof(float));
    filled_ -= d;
    base_ += drop;
}

void Resampler::write(const float *stereo, std::size_t frames)
{
    compact();
    frames = std::min(frames, room());
    for (std::size_t i = 0; i < frames; ++i) {
        left_[filled_ + i] = stereo[2 * i];
        right_[filled_ + i] = stereo[2 * i + 1];
    }
    filled_ += frames;
    written_ += std::int64_t(frames);
}

bool Resampler::done() const
{
    return finished_ && centre_ * outRate_ + fraction_ >= written_ * outRate_;
}

std::size_t Resampler::read(float *stereo, std::size_t frames)
{
    std::size_t produced = 0;
    while (produced < frames && !done()) {
        const std::int64_t end = centre_ + std::int64_t(half_) + 1;
        if (end > base_ + std::int64_t(filled_)) {
            if (!finished_)
                break;
            // Past the last frame the sound is silent; the taps still need something there.
            compact();
            const auto want = static_cast<std::size_t>(end - base_);
            std::fill(left_.get() + filled_, left_.get() + want, 0.f);
            std::fill(right_.get() + filled_, right_.get() + want, 0.f);
            filled_ = want;
        }
        const float *w = weights();
        const std::size_t at = static_cast<std::size_t>(centre_ - std::int64_t(half_) + 1 - base_);
        const float *l = left_.get() + at;
        const float *r = right_.get() + at;
        // Eight running sums a side, each on its own taps: independent lanes that the
        // compiler can put side by side in vector registers.
        float sumLeft[8] = {};
        float sumRight[8] = {};
        std::size_t j = 0;
        for (; j + 8 <= taps_; j += 8) {
            for (std::size_t k = 0; k < 8; ++k) {
                sumLeft[k] += w[j + k] * l[j + k];
                sumRight[k] += w[j + k] * r[j + k];
            }
        }
        for (; j < taps_; ++j) {
            sumLeft[0] += w[j] * l[j];
            sumRight[0] += w[j] * r[j];
        }
        float left = 0.f;
        float right = 0.f;
        for (std::size_t k = 0; k < 8; ++k) {
            left += sumLeft[k];
            right += sumRight[k];
        }
        // The filter's ripple may lift a full-scale input a little above it.
        stereo[2 * produced] = std::clamp(left, -1.f, 1.f);
        stereo[2 * produced + 1] = std::clamp(right, -1.f, 1.f);
        ++produced;
        centre_ += stepWhole_;
        fraction_ += stepFraction_;
        if (fraction_ >= outRate_) {
            fraction_ -= outRate_;
            ++centre_;
        }
    }
    compact();
    return produced;
}

} // namespace bellboard::platform::audio
