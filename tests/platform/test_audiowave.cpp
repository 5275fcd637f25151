// The wave header check, what the reader takes and refuses, and the stereo mixdown, without
// a sound server.
#include "platform/audio/wave.h"

#include "support/audiotone.h"

#include <QTemporaryDir>
#include <QTest>

using namespace bellboard::platform::audio;
using bellboard::test::pcmToneFile;
using bellboard::test::ToneSpec;

class TestAudioWave final : public QObject
{
    Q_OBJECT

private slots:
    void header_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("wave");
        const QByteArray size("\x24\x00\x00\x00", 4);
        QTest::newRow("riff") << QByteArray("RIFF" + size + "WAVEfmt ") << true;
        QTest::newRow("rifx") << QByteArray("RIFX" + size + "WAVEfmt ") << true;
        QTest::newRow("rf64") << QByteArray("RF64" + size + "WAVEds64") << true;
        const QByteArray w64riff("riff\x2E\x91\xCF\x11\xA5\xD6\x28\xDB\x04\xC1\x00\x00", 16);
        const QByteArray w64wave("wave\xF3\xAC\xD3\x11\x8C\xD1\x00\xC0\x4F\x8E\xDB\x8A", 16);
        QTest::newRow("wave64") << QByteArray(w64riff + QByteArray(8, '\0') + w64wave) << true;
        QTest::newRow("wave64, wrong second guid")
            << QByteArray(w64riff + QByteArray(8, '\0') + w64riff) << false;
        QTest::newRow("riff avi") << QByteArray("RIFF" + size + "AVI LIST") << false;
        QTest::newRow("aiff") << QByteArray("FORM" + size + "AIFFCOMM") << false;
        QTest::newRow("riff, cut short") << QByteArray("RIFF" + size + "WAV") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }

    void header()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, wave);
        QCOMPARE(isWaveHeader(reinterpret_cast<const unsigned char *>(bytes.constData()),
                              std::size_t(bytes.size())),
                 wave);
    }

    void limits_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("opens");
        // The fields of a 44-byte header.
        auto with = [](QByteArray f, int at, quint32 value, int size) {
            for (int i = 0; i < size; ++i)
                f[at + i] = char((value >> (8 * i)) & 0xff);
            return f;
        };
        const ToneSpec tone{.rate = 1000, .frequency = 100.0, .seconds = 0.01};
        const QByteArray pcm16 = pcmToneFile(tone, 16, 2); // libsndfile reads it
        const QByteArray pcm36 = pcmToneFile(tone, 36, 5); // we do
        const QByteArray pcm12 = pcmToneFile(tone, 12, 4); // so do we: the container is wide
        QTest::newRow("16-bit, 768 kHz") << with(pcm16, 24, 768000, 4) << true;
        QTest::newRow("16-bit, 999 Hz") << with(pcm16, 24, 999, 4) << false;
        QTest::newRow("12 bits in 4 bytes") << pcm12 << true;
        QTest::newRow("36-bit, 768,001 Hz") << with(pcm36, 24, 768001, 4) << false;
        const QByteArray stereo36 = pcmToneFile(
            {.channels = 2, .rate = 1000, .frequency = 100.0, .seconds = 0.01}, 36, 5);
        QTest::newRow("36-bit, frames not whole")
            << with(stereo36, 32, 9, 2) << false; // 9 bytes cannot hold two channels
        QTest::newRow("41 bits in 5 bytes") << with(pcm36, 34, 41, 2) << false;
        QTest::newRow("36-bit, less than a frame") << pcm36.left(44 + 4) << false;
        QTest::newRow("36-bit, cut in the format") << pcm36.left(30) << false;
        QTest::newRow("64-bit, 33 channels")
            << pcmToneFile({.channels = 33, .rate = 48000, .seconds = 0.001}, 64, 8, 0x3FFFF)
            << false;
    }

    void limits()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, opens);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("limits.wav"));
        QVERIFY(bellboard::test::writeBytes(path, bytes));
        auto reader = WaveReader::open(QFile::encodeName(path).toStdString());
        QCOMPARE(reader != nullptr, opens);
        if (!opens)
            return;
        // The tone's first frames: 0, then rising.
        float frames[4];
        QCOMPARE(reader->readStereo(frames, 2), std::size_t(2));
        QCOMPARE(frames[0], 0.f);
        QVERIFY(frames[2] > 0.f && frames[2] == frames[3]);
    }

    void mixdown_data()
    {
        QTest::addColumn<int>("channels");
        for (int c = 1; c <= 8; ++c)
            QTest::addRow("%d", c) << c;
    }

    // A signal in every channel comes out at its own level on both sides; a signal in a
    // left speaker never reaches the right side.
    void mixdown()
    {
        QFETCH(int, channels);
        Speaker speakers[8];
        defaultSpeakers(channels, speakers);
        const Mixdown m = stereoMixdown(speakers, channels);
        float left = 0.f;
        float right = 0.f;
        for (int c = 0; c < channels; ++c) {
            left += m.left[c];
            right += m.right[c];
            if (speakers[c] == Speaker::FrontLeft || speakers[c] == Speaker::BackLeft
                || speakers[c] == Speaker::SideLeft)
                QCOMPARE(m.right[c], 0.f);
            if (speakers[c] == Speaker::FrontRight || speakers[c] == Speaker::BackRight
                || speakers[c] == Speaker::SideRight)
                QCOMPARE(m.left[c], 0.f);
        }
        QVERIFY(qFuzzyCompare(left, 1.f));
        QVERIFY(qFuzzyCompare(right, 1.f));
    }

    void onlyLfeStillHeard()
    {
        const Speaker lfe = Speaker::Lfe;
        const Mixdown m = stereoMixdown(&lfe, 1);
        QCOMPARE(m.left[0], 1.f);
        QCOMPARE(m.right[0], 1.f);
    }
};

QTEST_GUILESS_MAIN(TestAudioWave)

#include "test_audiowave.moc"
