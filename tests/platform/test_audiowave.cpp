// The wave header check and the stereo mixdown, without a sound server.
#include "platform/audio/wave.h"

#include <QTest>

using namespace bellboard::platform::audio;

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
