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
            const double t = static_cast<double>(done + i) / tone.rate;
            const double f = t < tone.markerSeconds ? tone.markerFrequency : tone.frequency;
            const auto v
                = static_cast<float>(tone.amplitude * std::sin(2.0 * std::numbers::pi * f * t));
            for (int c = 0; c < tone.channels; ++c)
                block[static_cast<size_t>(i * tone.channels + c)] = v;
        }
        ok = sf_writef_float(file, block.data(), n) == n;
        done += n;
    }
    return sf_close(file) == 0 && ok;
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
