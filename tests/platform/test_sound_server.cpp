// The sound service without an audio server, and across a server restart. Runs its own
// private server, so it never disturbs the suite's shared one.
#include "platform/audio/engine.h"
#include "platform/sound.h"

#include "support/audiodetect.h"
#include "support/audiorecorder.h"
#include "support/audiotone.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>

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
    return QProcess::execute(script, {QString::fromLatin1(command), serverDir().path()}) == 0;
}

} // namespace

class TestSoundServer final : public QObject
{
    Q_OBJECT

private:
    // Plays the 0.3 s tone and says whether the monitor heard it once, for its length: a
    // sound replayed after the server came back would be heard longer.
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
        const ToneSpan span = findTone(recorder.samples(start, end), 900.0, MonitorRecorder::rate);
        return span.windows >= 25 && std::abs(span.seconds(MonitorRecorder::rate) - 0.3) <= 0.03;
    }

    // Stops and starts the server; the next call is heard on exactly one new device.
    void restartAndHear()
    {
        const auto opens = platform::audio::engineStats().deviceOpens;
        QVERIFY(server("stop"));
        std::this_thread::sleep_for(200ms);
        QVERIFY(server("start"));
        QVERIFY(heard());
        QCOMPARE(platform::audio::engineStats().deviceOpens, opens + 1);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(serverDir().isValid());
        tone_ = QFile::encodeName(serverDir().filePath(QStringLiteral("tone.wav")));
        QVERIFY(writeToneFile(QString::fromLocal8Bit(tone_), {.frequency = 900.0, .seconds = 0.3}));
    }

    void withoutServerCallsReturnAtOnce()
    {
        for (int i = 0; i < 5; ++i) {
            const auto before = std::chrono::steady_clock::now();
            QCOMPARE(platform::PlaySoundA(tone_.constData(), nullptr, platform::SND_ASYNC), 1);
            QVERIFY(std::chrono::steady_clock::now() - before < 100ms);
            std::this_thread::sleep_for(50ms);
        }
        std::this_thread::sleep_for(300ms);
        QCOMPARE(platform::audio::engineStats().deviceRate, 0);
    }

    void serverThatComesUpIsUsed()
    {
        QVERIFY(server("start"));
        QVERIFY(heard());
    }

    void serverRestartIsSurvived()
    {
        restartAndHear();
    }

    // Quiet, the engine keeps the device but stops it; that device cannot see the server go.
    void serverRestartWhileQuietIsSurvived()
    {
        QVERIFY(heard());
        QTRY_VERIFY_WITH_TIMEOUT(platform::audio::engineStats().held, 5000);
        restartAndHear();
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
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    QCoreApplication app(argc, argv);
    TestSoundServer test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_sound_server.moc"
