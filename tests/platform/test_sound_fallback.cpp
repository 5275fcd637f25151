// Without a sound server the engine plays through SDL's own drivers (here its dummy
// driver, so nothing reaches a speaker).
#include "platform/audio/engine.h"
#include "platform/sound.h"

#include "support/audiotone.h"

#include <QFile>
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
        QTRY_VERIFY(platform::audio::engineStats().started == 1);
        QVERIFY(platform::audio::engineStats().output != nullptr);
        QCOMPARE(std::strcmp(platform::audio::engineStats().output, "sdl"), 0);
        // The whole sound went through, and the engine let go of it.
        QTRY_VERIFY(!platform::audio::soundActive());
    }
};

QTEST_GUILESS_MAIN(TestSoundFallback)

#include "test_sound_fallback.moc"
