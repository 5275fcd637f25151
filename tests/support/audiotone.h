#pragma once

#include "support/files.h" // writeBytes

// Wave files with a pure tone in them, written with libsndfile, for tests that play sound.

#include <QString>

namespace bellboard::test {

// Aiff is not a wave file: for tests of files that must be refused.
enum class WaveContainer { Wav, WavEx, Rifx, Rf64, Wave64, Aiff };

enum class WaveEncoding {
    PcmU8,
    Pcm16,
    Pcm24,
    Pcm32,
    Float,
    Double,
    ULaw,
    ALaw,
    ImaAdpcm,
    MsAdpcm,
    Gsm610,
    G721,
    NmsAdpcm,
    Mp3
};

struct ToneSpec
{
    WaveContainer container = WaveContainer::Wav;
    WaveEncoding encoding = WaveEncoding::Pcm16;
    int channels = 1;
    int rate = 48000;
    double frequency = 1000.0;
    double seconds = 0.3;
    double amplitude = 0.5; // the same tone, in phase, in every channel
    // A start at another pitch, so that a lost first frame shows as a shorter marker.
    double markerFrequency = 0.0;
    double markerSeconds = 0.0;
    // A second tone at the same amplitude throughout, such as one above the output's range.
    double extraFrequency = 0.0;
};

// A 44-byte PCM RIFF header with whatever values it is given, sane or not: for files that
// are meant to be broken, or whose data is a hole.
QByteArray pcmWaveHeader(quint32 riffSize, quint16 channels, quint32 sampleRate, quint16 bits,
                         quint32 dataSize);

// A RIFF file of the tone as integer PCM: `bits` significant bits at the top of containers
// of `bytes` bytes (1 to 8), WAVE_FORMAT_EXTENSIBLE with `channelMask` when that is not 0.
// Shapes libsndfile does not write.
QByteArray pcmToneFile(const ToneSpec &tone, int bits, int bytes, quint32 channelMask = 0);

// Writes the tone; false when libsndfile cannot write that container, encoding and shape.
bool writeToneFile(const QString &path, const ToneSpec &tone);

} // namespace bellboard::test
