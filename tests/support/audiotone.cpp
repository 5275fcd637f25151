#include "audiotone.h"

#include <QFile>

#include <sndfile.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace bellboard::test {

namespace {

int containerFormat(WaveContainer c)
{
    switch (c) {
    case WaveContainer::Wav: return SF_FORMAT_WAV;
    case WaveContainer::WavEx: return SF_FORMAT_WAVEX;
    case WaveContainer::Rifx: return SF_FORMAT_WAV | SF_ENDIAN_BIG;
    case WaveContainer::Rf64: return SF_FORMAT_RF64;
    case WaveContainer::Wave64: return SF_FORMAT_W64;
    case WaveContainer::Aiff: return SF_FORMAT_AIFF;
    }
    return 0;
}

int encodingFormat(WaveEncoding e)
{
    switch (e) {
    case WaveEncoding::PcmU8: return SF_FORMAT_PCM_U8;
    case WaveEncoding::Pcm16: return SF_FORMAT_PCM_16;
    case WaveEncoding::Pcm24: return SF_FORMAT_PCM_24;
    case WaveEncoding::Pcm32: return SF_FORMAT_PCM_32;
    case WaveEncoding::Float: return SF_FORMAT_FLOAT;
    case WaveEncoding::Double: return SF_FORMAT_DOUBLE;
    case WaveEncoding::ULaw: return SF_FORMAT_ULAW;
    case WaveEncoding::ALaw: return SF_FORMAT_ALAW;
    case WaveEncoding::ImaAdpcm: return SF_FORMAT_IMA_ADPCM;
    case WaveEncoding::MsAdpcm: return SF_FORMAT_MS_ADPCM;
    case WaveEncoding::Gsm610: return SF_FORMAT_GSM610;
    case WaveEncoding::G721: return SF_FORMAT_G721_32;
    case WaveEncoding::NmsAdpcm: return SF_FORMAT_NMS_ADPCM_32;
    case WaveEncoding::Mp3: return SF_FORMAT_MPEG_LAYER_III;
    }
    return 0;
}

double sampleAt(const ToneSpec &tone, std::int64_t frame)
{
    const double t = static_cast<double>(frame) / tone.rate;
    const double f = t < tone.markerSeconds ? tone.markerFrequency : tone.frequency;
    double v = std::sin(2.0 * std::numbers::pi * f * t);
    if (tone.extraFrequency > 0.0)
        v += std::sin(2.0 * std::numbers::pi * tone.extraFrequency * t);
    return tone.amplitude * v;
}

} // namespace

bool writeToneFile(const QString &path, const ToneSpec &tone)
{
    SF_INFO info{};
    info.samplerate = tone.rate;
    info.channels = tone.channels;
    info.format = containerFormat(tone.container) | encodingFormat(tone.encoding);
    if (!sf_format_check(&info))
        return false;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    const auto frames = static_cast<sf_count_t>(std::llround(tone.seconds * tone.rate));
    std::vector<float> block(static_cast<size_t>(1024 * tone.channels));
    bool ok = true;
    for (sf_count_t done = 0; ok && done < frames;) {
        const sf_count_t n = std::min<sf_count_t>(1024, frames - done);
        for (sf_count_t i = 0; i < n; ++i) {
            const auto v = static_cast<float>(sampleAt(tone, done + i));
            for (int c = 0; c < tone.channels; ++c)
                block[static_cast<size_t>(i * tone.channels + c)] = v;
        }
        ok = sf_writef_float(file, block.data(), n) == n;
        done += n;
    }
    return sf_close(file) == 0 && ok;
}

QByteArray pcmToneFile(const ToneSpec &tone, int bits, int bytes, quint32 channelMask)
{
    const bool extensible = channelMask != 0;
    const auto frames = std::llround(tone.seconds * tone.rate);
    const auto frameBytes = quint32(tone.channels * bytes);
    const auto dataBytes = quint32(frames) * frameBytes;
    QByteArray f;
    auto put = [&f](quint64 v, int size) {
        for (int i = 0; i < size; ++i)
            f.append(char((v >> (8 * i)) & 0xff));
    };
    f.append("RIFF");
    put(4 + 8 + (extensible ? 40 : 16) + 8 + dataBytes, 4);
    f.append("WAVEfmt ");
    put(extensible ? 40 : 16, 4);
    put(extensible ? 0xFFFE : 1, 2);
    put(quint64(tone.channels), 2);
    put(quint64(tone.rate), 4);
    put(quint64(tone.rate) * frameBytes, 4);
    put(frameBytes, 2);
    put(quint64(extensible ? 8 * bytes : bits), 2);
    if (extensible) {
        put(22, 2);
        put(quint64(bits), 2);
        put(channelMask, 4);
        put(1, 4); // KSDATAFORMAT_SUBTYPE_PCM
        f.append("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
    }
    f.append("data");
    put(dataBytes, 4);
    const double full = std::ldexp(1.0, bits - 1) - 1.0;
    for (std::int64_t i = 0; i < frames; ++i) {
        // Signed and at the top of 64 bits; one-byte samples are unsigned.
        auto v = quint64(std::llround(sampleAt(tone, i) * full)) << (64 - bits);
        if (bytes == 1)
            v ^= quint64(1) << 63;
        for (int c = 0; c < tone.channels; ++c)
            put(v >> (64 - 8 * bytes), bytes);
    }
    return f;
}

QByteArray pcmWaveHeader(quint32 riffSize, quint16 channels, quint32 sampleRate, quint16 bits,
                         quint32 dataSize)
{
    QByteArray h;
    auto u32 = [&h](quint32 v) {
        for (int i = 0; i < 4; ++i)
            h.append(char((v >> (8 * i)) & 0xff));
    };
    auto u16 = [&h](quint16 v) {
        h.append(char(v & 0xff));
        h.append(char(v >> 8));
    };
    h.append("RIFF");
    u32(riffSize);
    h.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(channels);
    u32(sampleRate);
    u32(sampleRate * channels * bits / 8);
    u16(quint16(channels * bits / 8));
    u16(bits);
    h.append("data");
    u32(dataSize);
    return h;
}

} // namespace bellboard::test
