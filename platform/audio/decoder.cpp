#include "platform/audio/decoder.h"

#include "platform/audio/resampler.h"
#include "platform/audio/wave.h"

#include <algorithm>

namespace bellboard::platform::audio {

namespace {

// Input frames read at a time; small, so that a sound's start is ready soon.
constexpr std::size_t inputFrames = 1024;

} // namespace

Decoder::~Decoder() = default;

std::unique_ptr<Decoder> Decoder::open(const std::string &path, int outputRate)
{
    std::unique_ptr<WaveReader> reader = WaveReader::open(path);
    if (!reader || outputRate <= 0)
        return nullptr;
    std::unique_ptr<Decoder> decoder(new Decoder);
    if (reader->sampleRate() != outputRate) {
        decoder->resampler_ = std::make_unique<Resampler>(reader->sampleRate(), outputRate);
        decoder->input_.reset(new float[2 * inputFrames]);
    }
    decoder->reader_ = std::move(reader);
    return decoder;
}

std::size_t Decoder::read(float *out, std::size_t frames)
{
    if (!resampler_)
        return reader_->readStereo(out, frames);
    std::size_t total = 0;
    while (total < frames) {
        const std::size_t n = resampler_->read(out + 2 * total, frames - total);
        total += n;
        if (total == frames || resampler_->done())
            break;
        if (n == 0) {
            const std::size_t want = std::min(inputFrames, resampler_->room());
            const std::size_t got = reader_->readStereo(input_.get(), want);
            if (got == 0)
                resampler_->finish();
            else
                resampler_->write(input_.get(), got);
        }
    }
    return total;
}

} // namespace bellboard::platform::audio
