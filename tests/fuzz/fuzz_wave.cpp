// Feeds arbitrary bytes to the wave opening and decoding path the sound engine uses, rate
// conversion included.
#include "memfile.h"
#include "platform/audio/decoder.h"
#include "platform/audio/wave.h"

#include <cmath>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    MemFile file(data, size);
    if (!file.ok())
        return 0;
    using namespace bellboard::platform::audio;
    if (auto reader = WaveReader::open(file.path())) {
        if (reader->sampleRate() < 1000 || reader->sampleRate() > 768000)
            std::abort();
    }
    auto decoder = Decoder::open(file.path(), 48000);
    if (!decoder)
        return 0;
    std::vector<float> block(2 * 512);
    // Bounded: a header may claim any length, and 1 kHz comes out 48 times as long. This is
    // past the resampler's start and, for a short file, its end.
    for (int i = 0; i < 64; ++i) {
        const std::size_t n = decoder->read(block.data(), 512);
        if (n == 0)
            break;
        if (n > 512)
            std::abort();
        for (std::size_t k = 0; k < 2 * n; ++k) {
            if (!std::isfinite(block[k]) || std::fabs(block[k]) > 1.f)
                std::abort();
        }
    }
    return 0;
}
