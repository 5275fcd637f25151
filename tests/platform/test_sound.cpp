// Plays generated files through PlaySoundA into the suite's private PulseAudio server and
// checks at the sink's monitor what was heard.
#include "platform/sound.h"
#include "platform/soundengine.h"

#include "support/audiodetect.h"
#include "support/audiorecorder.h"
#include "support/audiotone.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

using namespace bellboard;
using namespace bellboard::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(bellboard::test::WaveContainer)
Q_DECLARE_METATYPE(bellboard::test::WaveEncoding)
Q_DECLARE_METATYPE(bellboard::test::ToneSpec)

namespace {

constexpr double rate = MonitorRecorder::rate;
constexpr double window = 0.01; // findTone's default window at 48 kHz

} // namespace

class TestSound final : public QObject
{
    Q_OBJECT

private:
    void makeBadFiles()
    {
        QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("folder.wav")));
        QCOMPARE(::mkfifo(QFile::encodeName(file("pipe.wav")).constData(), 0600), 0);
        QVERIFY(writeBytes(file("empty.wav"), {}));
        QVERIFY(writeBytes(file("text.wav"), "This is not a sound.\n"));
        QVERIFY(writeBytes(file("truncated.wav"),
                           pcmWaveHeader(36 + 4800, 1, 48000, 16, 4800).left(22)));
        // Sizes far past the end of the file; the few bytes that are there are silence.
        QVERIFY(writeBytes(file("absurd.wav"), pcmWaveHeader(0xFFFFFFF0u, 2, 48000, 16, 0xFFFFFFF0u)
                                                   + QByteArray(64, 0)));
        QVERIFY(writeBytes(file("channels.wav"), pcmWaveHeader(36 + 4800, 65535, 48000, 16, 4800)
                                                     + QByteArray(4800, '\x40')));
        QVERIFY(writeBytes(file("hugerate.wav"), pcmWaveHeader(36 + 4800, 1, 0x7FFFFFFFu, 16, 4800)
                                                     + QByteArray(4800, '\x40')));
        QVERIFY(writeBytes(file("zero.wav"), pcmWaveHeader(36, 1, 48000, 16, 0)));
        QVERIFY(writeToneFile(file("tone.aiff"), {.container = WaveContainer::Aiff}));
    }

    QString file(const QString &name) const { return dir_.filePath(name); }

    std::size_t now() const { return recorder_.frameAt(MonitorRecorder::Clock::now()); }

    void play(const QString &path)
    {
        QCOMPARE(
            platform::PlaySoundA(QFile::encodeName(path).constData(), nullptr, platform::SND_ASYNC),
            1);
    }

    // What the monitor heard from `from` until `seconds` later.
    std::vector<float> recordFrom(std::size_t from, double seconds)
    {
        const auto to = from + static_cast<std::size_t>(seconds * rate);
        if (!recorder_.waitUntil(to, std::chrono::milliseconds(int(seconds * 1000) + 3000)))
            return {};
        return recorder_.samples(from, to);
    }

    // Plays a tone file and checks the tone came through whole: right pitch, right length.
    // Sets `torn` where the sanitizer build could not keep up (see below).
    void expectTone(const QString &path, double frequency, double seconds, int slack = 3,
                    std::vector<float> *recorded = nullptr, ToneSpan *found = nullptr,
                    [[maybe_unused]] bool *torn = nullptr)
    {
        const std::uint64_t underrunsBefore = platform::soundEngine().stats().underruns;
        const std::size_t start = now();
        play(path);
        const std::vector<float> heard = recordFrom(start, seconds + 0.3);
        const ToneSpan span = findTone(heard, frequency, rate);
        if (recorded != nullptr) {
            *recorded = heard;
            *found = span;
        }
        QVERIFY2(span.windows > 0, "the tone was not heard");
        const auto stats = platform::soundEngine().stats();
        const std::size_t spanWindows = (span.last - span.first) / std::size_t(window * rate);
        const QString what = QStringLiteral("heard %1 s of a %2 s tone in %3 of %4 windows; "
                                            "output %5, %6 underruns; the recorder missed %7 "
                                            "frames")
                                 .arg(span.seconds(rate))
                                 .arg(seconds)
                                 .arg(span.windows)
                                 .arg(spanWindows)
                                 .arg(QLatin1String(stats.output))
                                 .arg(stats.underruns - underrunsBefore)
                                 .arg(recorder_.missedFrames(start));
#ifdef __SANITIZE_ADDRESS__
        // The sanitizer build decodes several times slower than the program: on a busy
        // machine it falls behind real time on the heaviest files (768 kHz), and the engine
        // counts underruns. Its tone is then torn, which says nothing of the program, whose
        // real time the plain build checks; nothing may be added to it all the same.
        if (stats.underruns > underrunsBefore) {
            QVERIFY2(double(span.windows) * window <= seconds + slack * window, qPrintable(what));
            qInfo("%s: the sanitizer build fell behind real time", qPrintable(what));
            if (torn != nullptr)
                *torn = true;
            return;
        }
#endif
        QVERIFY2(std::abs(span.seconds(rate) - seconds) <= slack * window, qPrintable(what));
        // No gaps inside. One dropout of a period (up to three 10 ms windows) may miss: a
        // shared two-core machine under load can make the server skip a block; an engine
        // that starves leaves many. Dropouts are counted properly in bench/audio.
        QVERIFY2(span.windows + 3 >= spanWindows, qPrintable(what));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        makeBadFiles();
        QVERIFY2(recorder_.start(), "cannot record the test sink's monitor");
    }

    void nullNameIsRefused()
    {
        QCOMPARE(platform::PlaySoundA(nullptr, nullptr, platform::SND_ASYNC), 0);
    }

    void encodings_data()
    {
        QTest::addColumn<WaveContainer>("container");
        QTest::addColumn<WaveEncoding>("encoding");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("slack"); // windows of 10 ms the length may be off by
        using C = WaveContainer;
        using E = WaveEncoding;
        QTest::newRow("u8") << C::Wav << E::PcmU8 << 1 << 22050 << 3;
        QTest::newRow("pcm16") << C::Wav << E::Pcm16 << 2 << 44100 << 3;
        QTest::newRow("pcm24") << C::Wav << E::Pcm24 << 2 << 48000 << 3;
        QTest::newRow("pcm32") << C::Wav << E::Pcm32 << 1 << 96000 << 3;
        QTest::newRow("float") << C::Wav << E::Float << 2 << 44100 << 3;
        QTest::newRow("double") << C::Wav << E::Double << 1 << 48000 << 3;
        QTest::newRow("u-law") << C::Wav << E::ULaw << 1 << 8000 << 3;
        QTest::newRow("a-law") << C::Wav << E::ALaw << 2 << 8000 << 3;
        QTest::newRow("ima-adpcm") << C::Wav << E::ImaAdpcm << 2 << 22050 << 3;
        QTest::newRow("ms-adpcm") << C::Wav << E::MsAdpcm << 1 << 11025 << 3;
        // GSM's start-up smears its first windows.
        QTest::newRow("gsm610") << C::Wav << E::Gsm610 << 1 << 8000 << 6;
        QTest::newRow("g721") << C::Wav << E::G721 << 1 << 8000 << 3;
        QTest::newRow("nms-adpcm") << C::Wav << E::NmsAdpcm << 1 << 8000 << 3;
        QTest::newRow("extensible pcm16") << C::WavEx << E::Pcm16 << 2 << 48000 << 3;
        QTest::newRow("extensible float") << C::WavEx << E::Float << 2 << 32000 << 3;
        QTest::newRow("rifx") << C::Rifx << E::Pcm16 << 2 << 44100 << 3;
        QTest::newRow("rf64") << C::Rf64 << E::Pcm24 << 2 << 48000 << 3;
        QTest::newRow("wave64") << C::Wave64 << E::Pcm16 << 1 << 44100 << 3;
        QTest::newRow("wave64 ima-adpcm") << C::Wave64 << E::ImaAdpcm << 1 << 16000 << 3;
    }

    void encodings()
    {
        QFETCH(WaveContainer, container);
        QFETCH(WaveEncoding, encoding);
        QFETCH(int, channels);
        QFETCH(int, sampleRate);
        QFETCH(int, slack);
        const QString path = file(QStringLiteral("enc.wav"));
        QVERIFY(writeToneFile(path, {container, encoding, channels, sampleRate, 1000.0, 0.3, 0.5}));
        expectTone(path, 1000.0, 0.3, slack);
    }

    void channels_data()
    {
        QTest::addColumn<int>("channels");
        for (int c = 1; c <= 8; ++c)
            QTest::addRow("%d", c) << c;
    }

    // The mixdown keeps a tone that is in every channel at its own level: no clipping from
    // summing, no loss from a channel left out.
    void channels()
    {
        QFETCH(int, channels);
        const QString path = file(QStringLiteral("ch.wav"));
        QVERIFY(writeToneFile(
            path, {WaveContainer::WavEx, WaveEncoding::Pcm16, channels, 48000, 750.0, 0.3, 0.5}));
        const std::size_t start = now();
        play(path);
        const std::vector<float> heard = recordFrom(start, 0.6);
        const ToneSpan span = findTone(heard, 750.0, rate);
        QVERIFY(std::abs(span.seconds(rate) - 0.3) <= 3 * window);
        // The median window, so that a block the server skipped under load cannot decide.
        std::vector<double> levels;
        for (std::size_t at = span.first; at + 480 <= span.last; at += 480)
            levels.push_back(toneAmplitude(heard.data() + at, 480, 750.0, rate));
        std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
        const double level = levels[levels.size() / 2];
        QVERIFY2(std::abs(level - 0.5) < 0.08, qPrintable(QString::number(level)));
    }

    void rates_data()
    {
        QTest::addColumn<int>("sampleRate");
        for (int r : {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000})
            QTest::addRow("%d", r) << r;
    }

    void rates()
    {
        QFETCH(int, sampleRate);
        const QString path = file(QStringLiteral("rate.wav"));
        QVERIFY(writeToneFile(
            path, {WaveContainer::Wav, WaveEncoding::Pcm16, 1, sampleRate, 1200.0, 0.3, 0.5}));
        expectTone(path, 1200.0, 0.3);
    }

    void collection_data()
    {
        QTest::addColumn<ToneSpec>("tone");
        QTest::addColumn<int>("bits"); // 0: 32-bit float, written by libsndfile
        QTest::addColumn<int>("bytes");
        QTest::addColumn<quint32>("mask");
        QTest::addColumn<double>("absent"); // an image or alias that must not be heard
        const ToneSpec base{.seconds = 0.4, .amplitude = 0.5};
        auto tone = [&base](int rate, int channels, double frequency, double extra = 0.0) {
            ToneSpec t = base;
            t.rate = rate;
            t.channels = channels;
            t.frequency = frequency;
            t.extraFrequency = extra;
            return t;
        };
        // 1 kHz up to 48: the 300 Hz tone's first image is at 700 Hz.
        QTest::newRow("low rate") << tone(1000, 1, 300.0) << 8 << 1 << 0u << 700.0;
        // 768 kHz down to 48: a 45 kHz tone would fold to 3 kHz.
        QTest::newRow("high rate") << tone(768000, 2, 1200.0, 45000.0) << 0 << 4 << 0u << 3000.0;
        // 18 positions named, 14 channels with none.
        QTest::newRow("many channels") << tone(48000, 32, 750.0) << 16 << 2 << 0x3FFFFu << 0.0;
        QTest::newRow("odd bits") << tone(1234, 1, 400.0) << 20 << 3 << 0u << 834.0;
        QTest::newRow("wide integers") << tone(44100, 2, 1000.0) << 45 << 6 << 0u << 0.0;
    }

    // Files of every rate, channel count and integer width a collection holds play at their
    // pitch and level, with nothing folded or mirrored into the audible band.
    void collection()
    {
        QFETCH(ToneSpec, tone);
        QFETCH(int, bits);
        QFETCH(int, bytes);
        QFETCH(quint32, mask);
        QFETCH(double, absent);
        const QString path = file(QStringLiteral("collection.wav"));
        if (bits == 0) {
            tone.encoding = WaveEncoding::Float;
            QVERIFY(writeToneFile(path, tone));
        } else {
            QVERIFY(writeBytes(path, pcmToneFile(tone, bits, bytes, mask)));
        }
        std::vector<float> heard;
        ToneSpan span;
        bool torn = false;
        expectTone(path, tone.frequency, tone.seconds, 3, &heard, &span, &torn);
        if (QTest::currentTestFailed())
            return;
        // A torn tone has no level to measure: every window holds a gap.
        if (!torn) {
            std::vector<double> levels;
            for (std::size_t at = span.first; at + 480 <= span.last; at += 480)
                levels.push_back(toneAmplitude(heard.data() + at, 480, tone.frequency, rate));
            std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
            const double level = levels[levels.size() / 2];
            QVERIFY2(std::abs(level - tone.amplitude) < 0.08, qPrintable(QString::number(level)));
        }
        // Over the whole tone, so that the tone itself does not leak into the measure.
        const double stray = absent > 0.0 ? toneAmplitude(heard.data() + span.first,
                                                          span.last - span.first, absent, rate)
                                          : 0.0;
        QVERIFY2(stray < 0.01, qPrintable(QString::number(stray)));
    }

    // A second call replaces the first: after the switch only the new sound is heard, from
    // its first frame (its 20 ms marker is heard; the monitor may miss the 2 ms that the
    // sink rendered again), and nothing of the old one that was
    // queued comes back after the new one ends.
    void secondCallCutsOffTheFirst()
    {
        const QString a = file(QStringLiteral("a.wav"));
        const QString b = file(QStringLiteral("b.wav"));
        QVERIFY(writeToneFile(a, {.frequency = 600.0, .seconds = 1.5}));
        QVERIFY(writeToneFile(b, {.frequency = 1500.0,
                                  .seconds = 0.1,
                                  .markerFrequency = 3000.0,
                                  .markerSeconds = 0.02}));
        const std::size_t start = now();
        play(a);
        std::this_thread::sleep_for(200ms);
        play(b);
        const std::vector<float> heard = recordFrom(start, 1.0);

        const ToneSpan first = findTone(heard, 600.0, rate, 192);
        const ToneSpan marker = findTone(heard, 3000.0, rate, 96);
        const ToneSpan second = findTone(heard, 1500.0, rate);
        QVERIFY2(first.windows >= 25, "the first sound was not playing before the switch");
        QVERIFY2(marker.windows >= 8, "the new sound's start was lost");
        QVERIFY(std::abs(second.seconds(rate) - 0.08) <= 3 * window);
        QVERIFY(marker.first <= second.first);
        QVERIFY2(first.last <= marker.first + 192, "the old sound went on after the new one began");
    }

    // With both cores busy, a sound still arrives whole: the server holds a deep queue, so a
    // late engine thread is not heard.
    void starvedEngineStillPlaysWhole()
    {
        std::vector<pid_t> busy;
        for (int i = 0; i < 4; ++i) {
            const pid_t pid = fork();
            if (pid == 0)
                for (std::atomic<unsigned long> spin{0};;)
                    spin.fetch_add(1, std::memory_order_relaxed);
            busy.push_back(pid);
        }
        const auto stopBusy = qScopeGuard([&] {
            for (pid_t pid : busy) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        });
        const QString path = file(QStringLiteral("long.wav"));
        QVERIFY(writeToneFile(path, {.frequency = 880.0, .seconds = 2.0}));
        expectTone(path, 880.0, 2.0);
    }

    void badFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << QStringLiteral("missing.wav");
        QTest::newRow("empty name") << QString();
        QTest::newRow("folder") << QStringLiteral("folder.wav");
        QTest::newRow("named pipe") << QStringLiteral("pipe.wav");
        QTest::newRow("device file") << QStringLiteral("/dev/zero");
        QTest::newRow("empty file") << QStringLiteral("empty.wav");
        QTest::newRow("text") << QStringLiteral("text.wav");
        QTest::newRow("truncated header") << QStringLiteral("truncated.wav");
        QTest::newRow("absurd sizes") << QStringLiteral("absurd.wav");
        QTest::newRow("absurd channels") << QStringLiteral("channels.wav");
        QTest::newRow("absurd rate") << QStringLiteral("hugerate.wav");
        QTest::newRow("zero frames") << QStringLiteral("zero.wav");
        QTest::newRow("aiff, not a wave file") << QStringLiteral("tone.aiff");
    }

    // A file that cannot be played still cuts off the sound before it, plays nothing, and
    // leaves the next call working.
    void badFiles()
    {
        QFETCH(QString, name);
        const QString path = name.startsWith('/') || name.isEmpty() ? name : file(name);
        QVERIFY(writeToneFile(file("a.wav"), {.frequency = 600.0, .seconds = 1.5}));
        QVERIFY(writeToneFile(file("b.wav"), {.frequency = 1500.0, .seconds = 0.25}));

        const std::size_t start = now();
        play(file("a.wav"));
        std::this_thread::sleep_for(200ms);
        play(path);
        std::this_thread::sleep_for(300ms);
        const std::size_t goodAt = now() - start;
        play(file("b.wav"));
        const std::vector<float> heard = recordFrom(start, 1.1);

        // Cut off before the next call, then silence until the next sound.
        const ToneSpan first = findTone(heard, 600.0, rate);
        QVERIFY2(first.windows >= 10, "the first sound was not playing");
        QVERIFY2(first.last <= goodAt, "the unplayable file did not cut off the sound before it");
        const ToneSpan next = findTone(heard, 1500.0, rate);
        QVERIFY2(std::abs(next.seconds(rate) - 0.25) <= 3 * window, "the next call was not heard");
        // A window on either side may hold the edge of a tone.
        const std::size_t quietFrom = first.last + std::size_t(window * rate);
        const std::size_t quietTo = next.first - std::size_t(window * rate);
        QVERIFY(quietFrom < quietTo);
        QVERIFY2(rms(heard.data() + quietFrom, quietTo - quietFrom) < 0.001,
                 "something played after the unplayable file");
    }

private:
    QTemporaryDir dir_;
    MonitorRecorder recorder_;
};

QTEST_GUILESS_MAIN(TestSound)

#include "test_sound.moc"
