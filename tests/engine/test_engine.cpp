// Drives the sound engine through fake outputs and a fake clock: no server, no sleeps. The
// test's own thread stands in for the output's thread and pulls. Each row is a script.
#include "platform/audio/engine.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace bellboard::platform::audio;
using namespace std::chrono_literals;

namespace {

// Longer than the engine's ring, so that its decoder and the pulls run at once.
constexpr int soundFrames = 40000;
constexpr int indexWraps = 30000; // a frame's index as a 16-bit sample
constexpr std::size_t pullFrames = 64;

// Time moves only when the test says so.
class FakeClock final : public Clock
{
public:
    TimePoint now() override
    {
        std::lock_guard lock(mutex_);
        return now_;
    }

    void waitUntil(sem_t &signal, TimePoint until) override
    {
        {
            std::lock_guard lock(mutex_);
            if (now_ >= until)
                return;
            waiting_ = &signal;
            until_ = until;
        }
        while (sem_wait(&signal) != 0) {
        }
        std::lock_guard lock(mutex_);
        waiting_ = nullptr;
    }

    void advance(std::chrono::milliseconds by)
    {
        std::lock_guard lock(mutex_);
        now_ += by;
        if (waiting_ != nullptr && now_ >= until_) {
            sem_post(waiting_); // the engine takes a spare post for a spurious wake-up
            waiting_ = nullptr;
        }
    }

private:
    std::mutex mutex_;
    TimePoint now_{};
    sem_t *waiting_ = nullptr;
    TimePoint until_{};
};

// Every fake output's calls, counted as "name.call" and as "call", and the one the test
// pulls through.
struct Outputs
{
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, int> calls;
    std::set<std::string> down;    // their server is gone: alive() and open() say no
    class Fake *pulling = nullptr; // woken and not yet destroyed
};

class Fake final : public Output
{
public:
    Fake(Source &source, Outputs &outputs, std::string name)
        : source_(source), outputs_(outputs), name_(std::move(name))
    {}

    // Waits for a pull through this output to finish: nothing pulls once it returns.
    ~Fake() override
    {
        note("close");
        std::lock_guard lock(outputs_.mutex);
        if (outputs_.pulling == this)
            outputs_.pulling = nullptr;
    }

    bool open() override { return note("open") && alive(); }
    bool alive() const override
    {
        std::lock_guard lock(outputs_.mutex);
        return outputs_.down.count(name_) == 0;
    }
    void wake() override { note("wake"); }
    void restart() override { note("restart"); }
    void rest() override { note("rest"); }
    void sleep() override { note("sleep"); }
    const char *name() const override { return name_.c_str(); }
    int rate() const override { return 48000; }
    int periodFrames() const override { return int(pullFrames); }
    int queueFrames() const override { return int(pullFrames); }

    // With the outputs' mutex held, as the output's thread.
    Source::Pulled pull(float *out, std::size_t frames)
    {
        return source_.pull(out, frames, std::exchange(startNew_, false));
    }

private:
    bool note(const std::string &call)
    {
        std::lock_guard lock(outputs_.mutex);
        if (call == "wake" || call == "restart")
            outputs_.pulling = this;
        startNew_ = startNew_ || call == "restart";
        ++outputs_.calls[name_ + '.' + call];
        ++outputs_.calls[call];
        outputs_.changed.notify_all();
        return true;
    }

    Source &source_;
    Outputs &outputs_;
    const std::string name_;
    bool startNew_ = false;
};

// A 48 kHz stereo 16-bit file: left holds the sound's number times 1000, right the frame's
// index (modulo indexWraps), so each pulled frame says whose and which it is.
QByteArray numberedWave(int number)
{
    QByteArray data;
    for (int i = 0; i < soundFrames; ++i)
        for (int sample : {number * 1000, i % indexWraps}) {
            data.append(char(sample & 0xff));
            data.append(char(sample >> 8));
        }
    QByteArray file;
    auto le = [&file](quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            file.append(char(value >> (8 * i)));
    };
    file.append("RIFF");
    le(36 + data.size(), 4);
    file.append("WAVEfmt ");
    le(16, 4);
    le(1, 2);
    le(2, 2);
    le(48000, 4);
    le(48000 * 4, 4);
    le(4, 2);
    le(16, 2);
    file.append("data");
    le(data.size(), 4);
    return file + data;
}

int sampleValue(float sample)
{
    return int(std::lround(sample * 32768.f));
}

} // namespace

class TestEngine final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        for (int n = 1; n <= 3; ++n) {
            QFile file(dir_.filePath(QStringLiteral("%1.wav").arg(n)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.write(numberedWave(n)) > 0);
        }
        QFile text(dir_.filePath(QStringLiteral("text.wav")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        QVERIFY(text.write("This is not a sound.\n") > 0);
    }

    // Steps, one per word:
    //   play:F     play F (1, 2, 3, text, missing, stop) and wait for the output's restart
    //   press:F    play F and go on at once
    //   pull:N@I   one pull gives sound N from its frame I;  pull:-N  no frame of sound N;
    //   pull:none  no frames;  pull:silent  nothing louder than dither
    //   drain:N@I  pulls until sound N ends, frame after frame from I to its last
    //   X.call=C   waits until output X has had C calls of that kind (open, wake, restart,
    //              rest, sleep, close), and no more
    //   advance:MS the clock moves on;  warm  a pad is pressed;  down:X  X's server goes
    //   output:X   the engine plays through X, opened O times in all (output:X/O)
    //   storm:K    K presses, 1 and 2 in turn, a pull after each, until the last one plays
    //   quiet      the output rests after the last play, and no sound is live
    void script_data()
    {
        QTest::addColumn<QString>("outputs");
        QTest::addColumn<QString>("script");
        QTest::newRow("one at a time")
            << "a"
            << "play:1 pull:1@0 pull:1@64 play:2 pull:2@0 drain:2@64 pull:none a.rest=1 quiet";
        QTest::newRow("a new sound cuts the old at the next pull, from its first frame")
            << "a"
            << "play:1 pull:1@0 press:2 pull:-1 a.restart=2 pull:2@0 drain:2@64";
        QTest::newRow("stop") << "a"
                              << "play:1 pull:1@0 play:stop pull:silent drain:-1 quiet";
        QTest::newRow("missing file") << "a"
                                      << "play:1 pull:1@0 play:missing pull:none play:2 pull:2@0 "
                                         "output:a/1";
        QTest::newRow("bad file") << "a"
                                  << "play:1 pull:1@0 play:text pull:none play:2 pull:2@0 "
                                     "output:a/1";
        QTest::newRow("rest, sleep after the idle time, wake on a press")
            << "a"
            << "play:1 drain:1@0 a.rest=1 advance:2999 a.sleep=0 advance:1 a.sleep=1 "
               "warm a.wake=2 play:2 pull:2@0 a.rest=1";
        QTest::newRow("output dies mid-sound, the next one in the list plays")
            << "a,b"
            << "play:1 pull:1@0 down:a play:2 a.open=2 a.close=2 output:b/2 pull:2@0 drain:2@64 "
               "quiet";
        QTest::newRow("a storm of presses loses no sound")
            << "a"
            << "storm:300 drain:2@64 quiet play:3 pull:3@0 drain:3@64 quiet output:a/1";
    }

    void script()
    {
        QFETCH(QString, outputs);
        QFETCH(QString, script);
        Outputs fakes;
        FakeClock clock;
        std::vector<OutputFactory> factories;
        for (const QString &name : outputs.split(',')) {
            factories.push_back([&fakes, name = name.toStdString()](Source &source) {
                return std::make_unique<Fake>(source, fakes, name);
            });
        }
        Engine engine(std::move(factories), clock);
        int restarts = 0;
        int restsAtPlay = 0;
        std::vector<float> out(2 * pullFrames);

        auto path = [this](const QString &what) -> QByteArray {
            if (what == QLatin1String("stop"))
                return BELLBOARD_STOP_WAV;
            return QFile::encodeName(dir_.filePath(what + QStringLiteral(".wav")));
        };
        // Until `done` holds, with the outputs' mutex held; a guard against a hang, not a
        // timing target.
        auto await = [&fakes](auto done) {
            std::unique_lock lock(fakes.mutex);
            return fakes.changed.wait_for(lock, 20s, [&] { return done(); });
        };
        // Up to `frames`, asking again while the decoder has not caught up.
        auto pull = [&](std::size_t frames) {
            Source::Pulled total;
            while (total.frames < frames) {
                Source::Pulled got;
                {
                    std::lock_guard lock(fakes.mutex);
                    if (fakes.pulling == nullptr)
                        break;
                    got = fakes.pulling->pull(out.data() + 2 * total.frames, frames - total.frames);
                }
                total.frames += got.frames;
                total.state = got.state;
                if (got.state != Source::State::Waiting)
                    break;
                std::this_thread::yield();
            }
            return total;
        };
        auto count = [&fakes](const char *call) {
            std::lock_guard lock(fakes.mutex);
            return fakes.calls[call];
        };
        // Frames [0, got) are sound `number` from frame `first` on.
        auto isSound = [&out](std::size_t got, int number, int first) {
            for (std::size_t i = 0; i < got; ++i)
                if (sampleValue(out[2 * i]) != number * 1000
                    || sampleValue(out[2 * i + 1]) != (first + int(i)) % indexWraps)
                    return false;
            return true;
        };

        for (const QString &step : script.split(' ')) {
            const QString verb = step.section(':', 0, 0);
            const QString arg = step.section(':', 1);
            const QByteArray where = step.toUtf8();
            if (verb == "play" || verb == "press") {
                engine.play(path(arg).constData());
                if (verb == "play") {
                    ++restarts;
                    QVERIFY2(await([&] { return fakes.calls["restart"] >= restarts; }), where);
                    restsAtPlay = count("rest");
                }
            } else if (verb == "pull" || verb == "drain") {
                const int number = arg.section('@', 0, 0).toInt();
                int next = arg.section('@', 1).toInt();
                Source::Pulled got;
                do {
                    got = pull(pullFrames);
                    if (arg == "none") {
                        QVERIFY2(got.frames == 0, where);
                    } else if (arg == "silent") {
                        for (std::size_t i = 0; i < 2 * got.frames; ++i)
                            QVERIFY2(std::abs(sampleValue(out[i])) <= 2, where); // dither
                    } else if (number < 0) {
                        for (std::size_t i = 0; i < got.frames; ++i)
                            QVERIFY2(sampleValue(out[2 * i]) != -number * 1000, where);
                    } else {
                        QVERIFY2(isSound(got.frames, number, next), where);
                        QVERIFY2(got.frames == pullFrames || got.state == Source::State::Ended,
                                 where);
                        next += int(got.frames);
                    }
                } while (verb == "drain" && got.state != Source::State::Ended);
                if (verb == "drain" && number > 0)
                    QVERIFY2(next == soundFrames, where);
            } else if (step.contains('=')) {
                const std::string call = step.section('=', 0, 0).toStdString();
                const int times = step.section('=', 1).toInt();
                QVERIFY2(await([&] { return fakes.calls[call] >= times; }), where);
                std::lock_guard lock(fakes.mutex);
                QVERIFY2(fakes.calls[call] == times, where);
            } else if (verb == "advance") {
                clock.advance(std::chrono::milliseconds(arg.toInt()));
            } else if (verb == "warm") {
                engine.warmUp();
            } else if (verb == "down") {
                std::lock_guard lock(fakes.mutex);
                fakes.down.insert(arg.toStdString());
            } else if (verb == "output") {
                const EngineStats stats = engine.stats();
                QVERIFY2(stats.output != nullptr, where);
                QCOMPARE(QString::fromLatin1(stats.output), arg.section('/', 0, 0));
                QCOMPARE(stats.deviceOpens, arg.section('/', 1).toULongLong());
            } else if (verb == "storm") {
                const int presses = arg.toInt();
                for (int i = 0; i < presses; ++i) {
                    engine.play(path(QString::number(1 + i % 2)).constData());
                    pull(pullFrames);
                }
                // The last press plays from its first frame once the engine caught up.
                const int last = 1 + (presses - 1) % 2;
                for (;;) {
                    const int before = count("restart");
                    const Source::Pulled got = pull(pullFrames);
                    if (got.frames > 0 && sampleValue(out[0]) == last * 1000) {
                        QVERIFY2(isSound(got.frames, last, 0), where);
                        break;
                    }
                    if (got.frames == 0)
                        QVERIFY2(await([&] { return fakes.calls["restart"] > before; }), where);
                }
                // It may have been pulled before its own restart came: `quiet` settles that.
                restsAtPlay = count("rest");
            } else if (verb == "quiet") {
                // The output rests once the engine let go of every sound, after its last
                // restart.
                QVERIFY2(await([&] { return fakes.calls["rest"] > restsAtPlay; }), where);
                QVERIFY2(!engine.active(), where);
                restarts = count("restart");
            } else {
                QFAIL(where + " is no step");
            }
        }
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestEngine)

#include "test_engine.moc"
