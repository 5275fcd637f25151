// Starts the real program on its own X server and plays into the suite's sound server, then
// does what a user does, with real clicks and keys. Each step leaves a screenshot under
// build/e2e-artifacts so a failure can be looked at.
#include "support/audiodetect.h"
#include "support/audiorecorder.h"
#include "support/audiotone.h"
#include "support/xsession.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <thread>

using namespace bellboard::test;
using namespace std::chrono_literals;

namespace {

// Pixels darker than mid-grey in `r` of `shot`: text on a white label, or none.
int darkPixels(const QImage &shot, const QRect &r)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += qGray(shot.pixel(x, y)) < 128;
    return n;
}

} // namespace

class TestEndToEnd final : public QObject
{
    Q_OBJECT

private:
    XSession m_x{QStringLiteral(BELLBOARD_BINARY_DIR "/e2e-artifacts")};
    QProcess m_program;
    QTemporaryDir m_tmp;
    QString m_programFolder;
    QString m_sounds;
    Window m_main;
    MonitorRecorder m_recorder;

    // A pad's label on the screen, inside its border.
    QRect labelRect(int pad) const
    {
        const int column = pad < 18 ? 0 : pad < 36 ? 1 : 2;
        const int row = pad < 18 ? pad : pad < 36 ? pad - 18 : 53 - pad;
        return QRect(35 + 217 * column + 3, 14 + 21 * row + 3, 176 - 6, 18 - 6)
            .translated(m_main.geometry.topLeft());
    }

    QPoint padButton(int pad) const
    {
        const int column = pad < 18 ? 0 : pad < 36 ? 1 : 2;
        const int row = pad < 18 ? pad : pad < 36 ? pad - 18 : 53 - pad;
        return {7 + 217 * column + 10, 14 + 21 * row + 9};
    }

    bool labelShowsText(int pad)
    {
        const QImage s = m_x.shot(QStringLiteral("pad%1").arg(pad));
        return darkPixels(s, labelRect(pad)) > 10;
    }

    // Picks `file` in the locate dialog: into the "sounds" folder below the one it opens
    // in when `browse` is set, then the file by keyboard, then "&Select".
    void locate(const QString &file, bool browse)
    {
        const Window dlg = m_x.waitWindow(QStringLiteral("Locate .wav Files"));
        QVERIFY2(!dlg.id.isEmpty(), "the locate dialog did not open");
        m_x.shot(QStringLiteral("locate-open"));
        if (browse) {
            m_x.click(dlg, {9 + 50, 74 + 8}); // the folder list; its last entry is "sounds"
            m_x.keys({"End", "Return"});
        }
        m_x.click(dlg, {126 + 40, 74 + 8});      // the file list
        m_x.keys({"Home", QString(file.at(0))}); // type-ahead picks it among the few there
        m_x.shot(QStringLiteral("locate-chosen"));
        m_x.click(dlg, {56 + 32, 217 + 9}); // "&Select"
        QVERIFY2(until([&] { return m_x.windows(QStringLiteral("Locate .wav Files")).isEmpty(); }),
                 "the locate dialog stayed open");
    }

    // Clicks pad 1 (eight seconds of 660 Hz) and waits until the tone is heard.
    bool startLongTone()
    {
        const std::size_t from = m_recorder.position();
        m_x.click(m_main, padButton(1));
        return until([&] {
            const auto s = m_recorder.samples(from, m_recorder.position());
            return findTone(s, 660, MonitorRecorder::rate).windows > 20;
        });
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        // The program in a folder of its own, so its presets land there.
        m_programFolder = m_tmp.filePath(QStringLiteral("prog"));
        QDir().mkpath(m_programFolder);
        QVERIFY(QFile::copy(QStringLiteral(BELLBOARD_PROGRAM), m_programFolder + "/bellboard"));
        QFile::setPermissions(m_programFolder + "/bellboard",
                              QFile::permissions(QStringLiteral(BELLBOARD_PROGRAM)));
        QVERIFY(QFile::copy(QStringLiteral(BELLBOARD_SOURCE_DIR "/resources/stop.wav"),
                            m_programFolder + "/stop.wav"));

        const QString home = m_tmp.filePath(QStringLiteral("home"));
        m_sounds = home + "/sounds";
        QDir().mkpath(m_sounds);
        ToneSpec a;
        a.frequency = 440;
        a.seconds = 1.0;
        QVERIFY(writeToneFile(m_sounds + "/alpha.wav", a));
        ToneSpec b;
        b.frequency = 660;
        b.seconds = 8.0;
        QVERIFY(writeToneFile(m_sounds + "/bravo.wav", b));

        QVERIFY2(m_x.start(), "no X server could be started");
        const QProcessEnvironment env = m_x.environment();
        m_program.setProcessEnvironment(env);
        m_program.setWorkingDirectory(home);
        m_program.setProcessChannelMode(QProcess::ForwardedChannels);
        m_program.start(m_programFolder + "/bellboard", {});
        QVERIFY(m_program.waitForStarted());

        m_main = m_x.waitWindow(QStringLiteral("Bellboard 1.2.6"));
        QVERIFY2(!m_main.id.isEmpty(), "the main window did not appear");
        QVERIFY(m_recorder.start());
    }

    void cleanupTestCase()
    {
        m_recorder.stop();
        if (m_program.state() != QProcess::NotRunning) {
            m_program.terminate();
            if (!m_program.waitForFinished(5000))
                m_program.kill();
        }
    }

    void mainWindowStands()
    {
        QCOMPARE(m_main.geometry.size(), QSize(654, 442));
        const QImage s = m_x.shot(QStringLiteral("start"));
        QVERIFY(!s.isNull());
        for (int pad : {0, 17, 18, 36, 53})
            QCOMPARE(darkPixels(s, labelRect(pad)), 0);
    }

    void assignAPadThroughTheLocateDialog()
    {
        m_x.click(m_main, padButton(0));
        locate(QStringLiteral("alpha.wav"), true);
        QVERIFY(until([&] { return labelShowsText(0); }));
    }

    void playThePad()
    {
        const std::size_t from = m_recorder.position();
        m_x.click(m_main, padButton(0));
        QVERIFY(m_recorder.waitUntil(from + MonitorRecorder::rate * 2, 10000ms));
        const auto heard = m_recorder.samples(from, m_recorder.position());
        const ToneSpan span = findTone(heard, 440, MonitorRecorder::rate);
        QVERIFY2(
            span.seconds(MonitorRecorder::rate) > 0.8,
            qPrintable(
                QStringLiteral("440 Hz heard for %1 s").arg(span.seconds(MonitorRecorder::rate))));
        m_x.shot(QStringLiteral("played"));
    }

    void assignASecondPadInTheRememberedFolder()
    {
        m_x.click(m_main, padButton(1));
        locate(QStringLiteral("bravo.wav"), false);
        QVERIFY(until([&] { return labelShowsText(1); }));
    }

    void saveThePreset()
    {
        QVERIFY(saveBoardAs(m_x, m_main, QStringLiteral("Bellboard 1.2.6"), QStringLiteral("e2e")));

        QFile preset(m_programFolder + "/e2e.pst");
        QVERIFY(until([&] { return preset.exists(); }));
        QVERIFY(preset.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = preset.readAll().split('\n');
        QCOMPARE(lines.size(), 55);
        QCOMPARE(lines[0], QFile::encodeName(m_sounds + "/alpha.wav") + "\r");
        QCOMPARE(lines[1], QFile::encodeName(m_sounds + "/bravo.wav") + "\r");
        QCOMPARE(lines[2], QByteArray("\r"));
    }

    void clearAll()
    {
        m_x.click(m_main, {7 + 36, 413 + 10}); // "&Clear all"
        QVERIFY(until([&] { return !labelShowsText(0) && !labelShowsText(1); }));
    }

    void loadThePreset()
    {
        const QStringList before = m_x.windows(QStringLiteral("Bellboard 1.2.6"));
        m_x.click(m_main, {91 + 36, 413 + 10}); // "&Load preset"
        const Window dlg = m_x.waitWindow(QStringLiteral("Bellboard 1.2.6"), before);
        QVERIFY2(!dlg.id.isEmpty(), "the presets dialog did not open");
        m_x.click(dlg, {14 + 40, 63 + 8}); // the first entry of the list: the only preset
        m_x.shot(QStringLiteral("load-dialog"));
        m_x.click(dlg, {14 + 25, 301 + 11}); // "&Load"
        QVERIFY(until([&] { return m_x.windows(QStringLiteral("Bellboard 1.2.6")).size() == 1; }));
        QVERIFY(until([&] { return labelShowsText(0) && labelShowsText(1); }));
    }

    void anotherPadCutsTheFirstOff()
    {
        QVERIFY2(startLongTone(), "the second pad's 660 Hz was not heard");
        const std::size_t at = m_recorder.frameAt(MonitorRecorder::Clock::now());
        m_x.click(m_main, padButton(0)); // one second of 440 Hz in its place
        QVERIFY(m_recorder.waitUntil(at + 2 * MonitorRecorder::rate, 10000ms));
        const auto after = m_recorder.samples(at, at + 2 * MonitorRecorder::rate);
        const ToneSpan second = findTone(after, 440, MonitorRecorder::rate);
        const ToneSpan first = findTone(after, 660, MonitorRecorder::rate);
        QVERIFY2(second.seconds(MonitorRecorder::rate) > 0.9, "the second pad was not heard whole");
        QVERIFY2(first.windows == 0 || first.last <= second.first + 480,
                 "the first pad went on under the second");
    }

    void stopCutsALongSoundOff()
    {
        QVERIFY2(startLongTone(), "the second pad's 660 Hz was not heard");
        const auto pressed = MonitorRecorder::Clock::now();
        m_x.click(m_main, {567 + 11, 413 + 11}); // Stop
        const std::size_t at = m_recorder.frameAt(pressed);
        QVERIFY(m_recorder.waitUntil(at + MonitorRecorder::rate, 10000ms));
        const auto after = m_recorder.samples(at, at + MonitorRecorder::rate);
        const ToneSpan tail = findTone(after, 660, MonitorRecorder::rate);
        // The tone ends soon after the press (xdotool's own click takes part of this) and
        // does not come back.
        QVERIFY2(tail.last < std::size_t(MonitorRecorder::rate / 4),
                 qPrintable(QStringLiteral("660 Hz until %1 ms after Stop")
                                .arg(tail.last * 1000 / MonitorRecorder::rate)));
        const std::size_t quiet = tail.windows ? tail.last : 0;
        QVERIFY(rms(after.data() + quiet + 480, after.size() - quiet - 480) < 0.001);
        m_x.shot(QStringLiteral("stopped"));
    }

    void clearOnePadFromItsMenu()
    {
        m_x.click(m_main, padButton(0), 3);
        std::this_thread::sleep_for(300ms);
        m_x.shot(QStringLiteral("menu"));
        m_x.keys({"Down", "Return"});
        QVERIFY(until([&] { return !labelShowsText(0); }));
        QVERIFY(labelShowsText(1));
    }

    void theProgramIsStillRunning()
    {
        QCOMPARE(m_program.state(), QProcess::Running);
        QCOMPARE(m_x.windows(QStringLiteral("Bellboard 1.2.6")).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "test_e2e.moc"
