// The sound service without an audio server, and across a server restart. Runs its own
// private server, so it never disturbs the suite's shared one.
#include "platform/sound.h"
#include "platform/soundengine.h"

#include "support/audiodetect.h"
#include "support/audiorecorder.h"
#include "support/audiotone.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>

#include <linux/capability.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

using namespace bellboard;
using namespace bellboard::test;
using namespace std::chrono_literals;

namespace {

// Short, so the server's socket path stays within the limit of a Unix socket name.
QTemporaryDir &serverDir()
{
    static QTemporaryDir dir(QStringLiteral("/tmp/bbsnd-XXXXXX"));
    return dir;
}

// The suite runs this test once per kind of server and names its start script.
bool server(const char *command)
{
    QString script = qEnvironmentVariable("BELLBOARD_TEST_SERVER_SCRIPT");
    if (script.isEmpty())
        script = QStringLiteral(BELLBOARD_SOURCE_DIR "/scripts/test-pulse.sh");
    QStringList args{QString::fromLatin1(command), serverDir().path()};
    // As a desktop's PipeWire does (through rtkit), else it drops out under load itself.
    if (qstrcmp(command, "start") == 0 && script.endsWith(QLatin1String("test-pipewire.sh")))
        args << QStringLiteral("--realtime-if-allowed");
    return QProcess::execute(script, args) == 0;
}

// Takes real time away from the calling thread and every thread it starts, as on a desktop
// without rtkit: no CAP_SYS_NICE (root's way past the limit), and a zero RLIMIT_RTPRIO.
bool refuseRealTime()
{
    const rlimit none{0, 0};
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    if (setrlimit(RLIMIT_RTPRIO, &none) != 0 || syscall(SYS_capget, &header, caps) != 0)
        return false;
    const unsigned bit = 1u << (CAP_SYS_NICE % 32);
    caps[CAP_SYS_NICE / 32].effective &= ~bit;
    caps[CAP_SYS_NICE / 32].permitted &= ~bit;
    return syscall(SYS_capset, &header, caps) == 0;
}

bool realTimeRefused()
{
    return qEnvironmentVariableIsSet("BELLBOARD_TEST_REFUSE_REALTIME");
}

// The output the engine should pick: PipeWire's own where its server runs and our threads
// may run real-time, else the PulseAudio one.
QByteArray expectedOutput()
{
    if (!qEnvironmentVariable("BELLBOARD_TEST_SERVER_SCRIPT")
             .endsWith(QLatin1String("test-pipewire.sh"))
        || realTimeRefused())
        return "pulse";
    bool allowed = false;
    std::thread([&allowed] {
        sched_param param{};
        param.sched_priority = 1;
        allowed = sched_setscheduler(0, SCHED_FIFO, &param) == 0;
    }).join();
    return allowed ? "pipewire" : "pulse";
}

} // namespace

class TestSoundServer final : public QObject
{
    Q_OBJECT

private:
    // Plays the 0.3 s tone and says whether the monitor heard it once, for its length, from
    // its start: a sound replayed after the server came back would be heard longer, one whose
    // start was lost waking the stream would lose its 10 ms start marker. (PulseAudio's
    // monitor misses a millisecond or two of any start that rewinds the sink.)
    bool heard()
    {
        MonitorRecorder recorder;
        if (!recorder.start())
            return false;
        const std::size_t start = recorder.frameAt(MonitorRecorder::Clock::now());
        platform::PlaySoundA(tone_.constData(), nullptr, platform::SND_ASYNC);
        const std::size_t end = start + MonitorRecorder::rate;
        if (!recorder.waitUntil(end, 3000ms))
            return false;
        const std::vector<float> x = recorder.samples(start, end);
        const ToneSpan span = findTone(x, 900.0, MonitorRecorder::rate);
        const ToneSpan marker = findTone(x, 3000.0, MonitorRecorder::rate, 96);
        // On PipeWire the monitor skips the recorder for whole quanta while our stream links to
        // a server just started; what played then is unknown, not missing. So what it missed
        // can only make up for tone not heard, never excuse tone heard too long.
        const double missed = double(recorder.missedFrames(start, end)) / MonitorRecorder::rate;
        const double seconds = span.seconds(MonitorRecorder::rate);
        qDebug("heard %.3f s of tone, %d marker windows; the recorder missed %.3f s", seconds,
               int(marker.windows), missed);
        return span.windows + int(missed * 100) >= 25 && seconds <= 0.33 && seconds + missed >= 0.27
               && marker.windows >= 2;
    }

    // Whether `pactl list ...` shows `pattern`: our stream "Corked: yes", the test sink
    // "SUSPENDED".
    static bool pactlShows(const char *list, const char *pattern)
    {
        QProcess p;
        p.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("pactl list ") + list});
        p.waitForFinished(5000);
        return QString::fromUtf8(p.readAllStandardOutput())
            .contains(QRegularExpression(QString::fromLatin1(pattern)));
    }
    static bool corked() { return pactlShows("sink-inputs", "Corked: yes"); }
    static bool sinkSuspended()
    {
        return pactlShows("short sinks", "bellboard_test\\t.*SUSPENDED");
    }

    // Our stream's node state and latency, as PipeWire's own tools see it.
    static QString ourNode()
    {
        QProcess dump;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PIPEWIRE_CONFIG_DIR"),
                   serverDir().filePath(QStringLiteral("config/pipewire")));
        dump.setProcessEnvironment(env);
        dump.start(QStringLiteral("pw-dump"), {});
        dump.waitForFinished(5000);
        for (const QJsonValue &o : QJsonDocument::fromJson(dump.readAllStandardOutput()).array()) {
            const QJsonObject info = o[QLatin1String("info")].toObject();
            const QJsonObject props = info[QLatin1String("props")].toObject();
            if (props[QLatin1String("application.name")].toString() == QLatin1String("Bellboard")
                && props[QLatin1String("media.class")].toString().startsWith(
                    QLatin1String("Stream")))
                return info[QLatin1String("state")].toString() + QLatin1Char(' ')
                       + props[QLatin1String("node.latency")].toString();
        }
        return {};
    }

    // Stops and starts the server; the next call is heard on exactly one new device.
    void restartAndHear()
    {
        const auto opens = platform::soundEngine().stats().deviceOpens;
        QVERIFY(server("stop"));
        std::this_thread::sleep_for(200ms);
        QVERIFY(server("start"));
        QVERIFY(heard());
        QCOMPARE(platform::soundEngine().stats().deviceOpens, opens + 1);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(serverDir().isValid());
        tone_ = QFile::encodeName(serverDir().filePath(QStringLiteral("tone.wav")));
        QVERIFY(writeToneFile(QString::fromLocal8Bit(tone_), {.frequency = 900.0,
                                                              .seconds = 0.3,
                                                              .markerFrequency = 3000.0,
                                                              .markerSeconds = 0.01}));
    }

    // How soon they return is the benchmark's to measure.
    void withoutServerCallsOpenNothing()
    {
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(platform::PlaySoundA(tone_.constData(), nullptr, platform::SND_ASYNC), 1);
            std::this_thread::sleep_for(50ms);
        }
        std::this_thread::sleep_for(300ms);
        QCOMPARE(platform::soundEngine().stats().deviceRate, 0);
    }

    void serverThatComesUpIsUsed()
    {
        QVERIFY(server("start"));
        QVERIFY(heard());
        QCOMPARE(QByteArray(platform::soundEngine().stats().output), expectedOutput());
    }

    void serverRestartIsSurvived() { restartAndHear(); }

    // Quiet, the engine keeps the device but stops it; that device cannot see the server go.
    void serverRestartWhileQuietIsSurvived()
    {
        QVERIFY(heard());
        QTRY_VERIFY_WITH_TIMEOUT(platform::soundEngine().stats().held, 5000);
        restartAndHear();
    }

    // Idle, the stream is corked and the server may suspend the sink; a press wakes the
    // stream before any sound, and a sound after sleep is heard from its first frame.
    void sleepsWhenIdleAndWakes()
    {
        QVERIFY(heard());
        const auto sleeps = platform::soundEngine().stats().sleeps;
        QTRY_VERIFY_WITH_TIMEOUT(platform::soundEngine().stats().sleeps > sleeps,
                                 platform::audio::idleSleepMs + 2000);
        QTRY_VERIFY_WITH_TIMEOUT(corked(), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(sinkSuspended(), 10000);

        platform::audio::warmUp();
        QTRY_VERIFY_WITH_TIMEOUT(pactlShows("sink-inputs", "Corked: no"), 2000);
        // A wake no sound follows goes back to sleep.
        QTRY_VERIFY_WITH_TIMEOUT(corked(), platform::audio::idleSleepMs + 2000);
        QVERIFY(heard());
    }

    // Natively, asleep while another stream runs the graph, the stream stays running at a
    // relaxed latency (waking an inactive one would take far longer); once that stream
    // goes, it lets the graph stop.
    void restsRunningOnlyBesideAnotherStream()
    {
        if (expectedOutput() != "pipewire")
            QSKIP("only the native PipeWire output rests this way");
        {
            MonitorRecorder relaxed(QStringLiteral("bellboard_test.monitor"), 100);
            QVERIFY(relaxed.start());
            QVERIFY(heard());
            const auto sleeps = platform::soundEngine().stats().sleeps;
            QTRY_VERIFY_WITH_TIMEOUT(platform::soundEngine().stats().sleeps > sleeps,
                                     platform::audio::idleSleepMs + 2000);
            QTRY_COMPARE_WITH_TIMEOUT(ourNode(), QStringLiteral("running 2048/48000"), 2000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!ourNode().startsWith(QLatin1String("running")), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(sinkSuspended(), 10000);
    }

    // Natively, a machine that cannot keep up with the small quantum gets a larger one: here
    // the graph runs cycles without us while the whole process is stopped for 30 ms, in the
    // middle of a sound.
    void missedCyclesRaiseTheQuantum()
    {
        if (expectedOutput() != "pipewire")
            QSKIP("only the native PipeWire output chooses its quantum");
        restartAndHear(); // a new output, at the smallest quantum but for misses of its own
        platform::audio::warmUp();
        QTRY_VERIFY_WITH_TIMEOUT(ourNode().startsWith(QLatin1String("running ")), 2000);
        const int before
            = ourNode().section(QLatin1Char(' '), 1).section(QLatin1Char('/'), 0, 0).toInt();
        QCOMPARE(platform::PlaySoundA(tone_.constData(), nullptr, platform::SND_ASYNC), 1);
        const pid_t stopper = fork();
        if (stopper == 0) {
            const timespec playing{0, 50'000'000}, stopped{0, 30'000'000};
            nanosleep(&playing, nullptr);
            kill(getppid(), SIGSTOP);
            nanosleep(&stopped, nullptr);
            kill(getppid(), SIGCONT);
            _exit(0);
        }
        QVERIFY(stopper > 0);
        QCOMPARE(waitpid(stopper, nullptr, 0), stopper);
        QTRY_COMPARE_WITH_TIMEOUT(ourNode(), QStringLiteral("running %1/48000").arg(2 * before),
                                  2000);
        QVERIFY(heard());
    }

    void cleanupTestCase() { server("stop"); }

private:
    QByteArray tone_;
};

int main(int argc, char **argv)
{
    // Point everything, parec included, at the private server before the engine starts.
    const QByteArray dir = QFile::encodeName(serverDir().path());
    setenv("PULSE_SERVER", ("unix:" + dir + "/native").constData(), 1);
    setenv("PULSE_RUNTIME_PATH", dir.constData(), 1);
    setenv("PIPEWIRE_RUNTIME_DIR", dir.constData(), 1);
    setenv("PIPEWIRE_REMOTE", "pipewire-0", 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    // The engine's threads all descend from the first one that uses it; the recorder, started
    // from this one, keeps its real time.
    bool ready = true;
    if (realTimeRefused())
        std::thread([&ready] {
            ready = refuseRealTime();
            platform::soundEngine().stats();
        }).join();
    if (!ready)
        return 1;
    QCoreApplication app(argc, argv);
    TestSoundServer test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_sound_server.moc"
