// Without a sound server the engine plays through SDL's own drivers (here its dummy
// driver, so nothing reaches a speaker).
#include "platform/sound.h"
#include "platform/soundengine.h"

#include "support/audiotone.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

using namespace bellboard;
using namespace bellboard::test;

class TestSoundFallback final : public QObject
{
    Q_OBJECT

private slots:
    void playsThroughSdlWithoutServer()
    {
        QTemporaryDir dir;
        const QString tone = dir.filePath(QStringLiteral("tone.wav"));
        QVERIFY(writeToneFile(tone, {.seconds = 0.2}));
        QCOMPARE(
            platform::PlaySoundA(QFile::encodeName(tone).constData(), nullptr, platform::SND_ASYNC),
            1);
        QTRY_VERIFY(platform::soundEngine().stats().started == 1);
        QVERIFY(platform::soundEngine().stats().output != nullptr);
        QCOMPARE(std::strcmp(platform::soundEngine().stats().output, "sdl"), 0);
        // The whole sound went through, and the engine let go of it.
        QTRY_VERIFY(!platform::soundEngine().active());
    }

    // No server and no card: the program looks for an output at start-up without a word on
    // the terminal.
    void startsQuietWithoutAnyOutput()
    {
        QTemporaryDir runtime;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("SDL_AUDIODRIVER"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("PIPEWIRE_REMOTE"), runtime.filePath(QStringLiteral("none")));
        QProcess program;
        program.setProcessEnvironment(env);
        program.setReadChannel(QProcess::StandardError);
        // Its window on Qt's offscreen platform: the program looks for a display otherwise.
        program.start(QStringLiteral(BELLBOARD_PROGRAM),
                      {QStringLiteral("-platform"), QStringLiteral("offscreen")});
        QVERIFY(program.waitForStarted());
        program.waitForReadyRead(3000);
        QCOMPARE(program.state(), QProcess::Running);
        program.terminate();
        program.waitForFinished();
        QCOMPARE(program.readAllStandardError(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestSoundFallback)

#include "test_sound_fallback.moc"
