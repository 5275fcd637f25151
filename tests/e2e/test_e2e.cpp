// Starts the real program on its own X server and plays into the suite's sound server, then
// does what a user does, with real clicks and keys. Each step leaves a screenshot under
// build/e2e-artifacts so a failure can be looked at. With BELLBOARD_TEST_DESKTOP=wayland the
// same steps run on a headless Wayland compositor instead (build/e2e-wayland-artifacts);
// CTest runs there only the steps where the window system matters, and plays nothing.
#include "support/audiodetect.h"
#include "support/audiorecorder.h"
#include "support/audiotone.h"
#include "support/xsession.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegion>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <thread>

using namespace bellboard::test;
using namespace std::chrono_literals;

namespace {

// The marquee, which runs all the time, and a place on the board with nothing under it.
const QRect kMarquee(350, 413, 197, 21);
const QPoint kNowhere(215, 400);

const bool onWayland = qEnvironmentVariable("BELLBOARD_TEST_DESKTOP") == QLatin1String("wayland");

// The steps about windows alone, which another run on the same window system has done.
const bool windowsDone = qEnvironmentVariableIsSet("BELLBOARD_E2E_WINDOWS_DONE");

// The smallest rectangle holding every pixel of `r` that differs between two shots, leaving
// out `except`.
QRect changed(const QImage &before, const QImage &after, const QRect &r, const QRegion &except)
{
    QRect box;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (!except.contains(QPoint(x, y)) && before.pixel(x, y) != after.pixel(x, y))
                box |= QRect(x, y, 1, 1);
    return box;
}

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
    std::unique_ptr<Desktop> m_x
        = makeDesktop(QStringLiteral(BELLBOARD_BINARY_DIR)
                      + (onWayland ? "/e2e-wayland-artifacts" : "/e2e-artifacts"));
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
        const QImage s = m_x->shot(QStringLiteral("pad%1").arg(pad));
        return darkPixels(s, labelRect(pad)) > 10;
    }

    // Picks `file` in the locate dialog: into the "sounds" folder below the one it opens
    // in when `browse` is set, then the file by keyboard, then "&Select".
    void locate(const QString &file, bool browse)
    {
        const Window dlg = m_x->waitWindow(QStringLiteral("Locate .wav Files"));
        QVERIFY2(!dlg.id.isEmpty(), "the locate dialog did not open");
        m_x->shot(QStringLiteral("locate-open"));
        if (browse) {
            m_x->click(dlg, {9 + 50, 74 + 8}); // the folder list; its last entry is "sounds"
            m_x->keys({"End", "Return"});
        }
        m_x->click(dlg, {126 + 40, 74 + 8});      // the file list
        m_x->keys({"Home", QString(file.at(0))}); // type-ahead picks it among the few there
        m_x->shot(QStringLiteral("locate-chosen"));
        m_x->click(dlg, {56 + 32, 217 + 9}); // "&Select"
        QVERIFY2(until([&] { return m_x->windows(QStringLiteral("Locate .wav Files")).isEmpty(); }),
                 "the locate dialog stayed open");
    }

    // Clicks pad 1 (eight seconds of 660 Hz) and waits until the tone is heard.
    bool startLongTone()
    {
        const std::size_t from = m_recorder.position();
        m_x->click(m_main, padButton(1));
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

        if (!m_x->start()) {
            if (onWayland)
                QSKIP(qPrintable(m_x->why()));
            QFAIL(qPrintable(m_x->why()));
        }
        const QProcessEnvironment env = m_x->environment();
        m_program.setProcessEnvironment(env);
        m_program.setWorkingDirectory(home);
        m_program.setProcessChannelMode(QProcess::ForwardedChannels);
        m_program.start(m_programFolder + "/bellboard", {});
        QVERIFY(m_program.waitForStarted());

        m_main = m_x->waitWindow(QStringLiteral("Bellboard 1.2.6"));
        QVERIFY2(!m_main.id.isEmpty(), "the main window did not appear");
        if (!onWayland)
            QVERIFY(m_recorder.start());
    }

    void cleanupTestCase()
    {
        if (!onWayland)
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
        const QImage s = m_x->shot(QStringLiteral("start"));
        QVERIFY(!s.isNull());
        for (int pad : {0, 17, 18, 36, 53})
            QCOMPARE(darkPixels(s, labelRect(pad)), 0);
    }

    // Each dialog opens over the board and takes the keys, however often, and gives the focus
    // back to the pad it came from, its mark shown as before.
    void dialogsOpenOverTheBoard_data()
    {
        QTest::addColumn<QString>("open");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("close");
        QTest::addColumn<int>("times");
        QTest::newRow("Enter on pad 1") << "Return"
                                        << "Locate .wav Files"
                                        << "alt+c" << 3;
        QTest::newRow("Space on pad 1") << "space"
                                        << "Locate .wav Files"
                                        << "alt+c" << 1;
        QTest::newRow("Alt+A") << "alt+a"
                               << "Bellboard 1.2.6"
                               << "alt+o" << 1;
        QTest::newRow("Alt+L") << "alt+l"
                               << "Bellboard 1.2.6"
                               << "alt+c" << 1;
    }

    void dialogsOpenOverTheBoard()
    {
        if (windowsDone)
            QSKIP("about windows alone: checked on the PulseAudio run");
        QFETCH(QString, open);
        QFETCH(QString, title);
        QFETCH(QString, close);
        QFETCH(int, times);
        const QRect pad = QRect(7, 14, 20, 18).translated(m_main.geometry.topLeft());
        const QImage start = m_x->shot(QStringLiteral("focus-on-pad-1")).copy(pad);
        for (int t = 0; t < times; ++t) {
            const QStringList before = m_x->windows(title);
            // Without a window manager nothing hands the X focus back to the board when a
            // dialog closes; a click on it does. On Wayland the compositor must.
            if (!onWayland)
                m_x->click(m_main, kNowhere);
            m_x->keys({open});
            const Window dlg = m_x->waitWindow(title, before);
            QVERIFY2(!dlg.id.isEmpty(), "no dialog opened");
            QVERIFY2(m_main.geometry.contains(dlg.geometry.center()),
                     "the dialog is not over the board");
            m_x->shot(QStringLiteral("dialog"));
            m_x->keys({close});
            QVERIFY2(until([&] { return m_x->windows(title) == before; }),
                     "its access key did not close it");
            QVERIFY2(until([&] { return m_x->shot(QStringLiteral("back")).copy(pad) == start; }),
                     "pad 1 did not get its focus mark back");
        }
    }

    // A shot once nothing moves any more but what `except` holds (the running marquee).
    QImage settledShot(const QString &step, const QRegion &except)
    {
        QImage last = m_x->shot(step);
        until([&] {
            const QImage next = m_x->shot(step);
            const bool still = changed(last, next, last.rect(), except).isEmpty();
            last = next;
            return still;
        });
        return last;
    }

    QRect onScreen(const QRect &inBoard) const
    {
        return inBoard.translated(m_main.geometry.topLeft());
    }

    // The pad menu opens from the keyboard under the focused pad (pad 1, where the dialogs
    // left the focus), or at the pointer.
    void padMenuOpensWhereItShould_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QPoint>("at"); // its top left corner, in the board
        QTest::newRow("Menu key on pad 1") << "Menu" << QPoint(7, 14 + 18);
        QTest::newRow("Shift+F10 on pad 1") << "shift+F10" << QPoint(7, 14 + 18);
        QTest::newRow("right click on pad 2") << "click" << QPoint(7 + 10, 35 + 9);
    }

    void padMenuOpensWhereItShould()
    {
        if (windowsDone)
            QSKIP("about windows alone: checked on the PulseAudio run");
        QFETCH(QString, how);
        QFETCH(QPoint, at);
        const bool click = how == QLatin1String("click");
        // The pointer rests where it clicks, so the shots differ by the menu alone, and by
        // the focus marks of pads 1 and 2, which a press moves.
        const QRegion except = QRegion(onScreen(kMarquee)) + onScreen(QRect(7, 14, 20, 18))
                               + onScreen(QRect(7, 35, 20, 18));
        m_x->point(m_main, click ? at : kNowhere);
        const QImage before = settledShot(QStringLiteral("before-menu"), except);
        if (click)
            m_x->click(m_main, at, 3);
        else
            m_x->keys({how});
        QRect menu;
        until([&] {
            menu = changed(before, m_x->shot(QStringLiteral("menu")), before.rect(), except);
            return menu.width() > 40 && menu.height() > 10;
        });
        m_x->keys({"Escape"});
        const QPoint expected = onScreen(QRect(at, QSize())).topLeft();
        QVERIFY2((menu.topLeft() - expected).manhattanLength() <= 2,
                 qPrintable(QStringLiteral("the menu's corner is at %1,%2, wanted %3,%4")
                                .arg(menu.x())
                                .arg(menu.y())
                                .arg(expected.x())
                                .arg(expected.y())));
        QVERIFY2(until([&] {
                     return changed(before, m_x->shot(QStringLiteral("menu-gone")), before.rect(),
                                    except)
                         .isEmpty();
                 }),
                 "Escape left the menu on the screen");
    }

    void toolTipShowsAndGoes()
    {
        if (windowsDone)
            QSKIP("about windows alone: checked on the PulseAudio run");
        // Leaving out the marquee and the buttons beside it, which light up under the pointer.
        const QRect tools = onScreen(QRect(350, 413, 304, 29));
        m_x->point(m_main, kNowhere);
        const QImage before = settledShot(QStringLiteral("before-tip"), tools);
        m_x->point(m_main, {567 + 11, 413 + 11}); // Stop
        QVERIFY2(until([&] {
                     return !changed(before, m_x->shot(QStringLiteral("tip")), before.rect(), tools)
                                 .isEmpty();
                 }),
                 "no tool tip showed");
        m_x->point(m_main, kNowhere);
        QVERIFY2(until([&] {
                     return changed(before, m_x->shot(QStringLiteral("tip-gone")), before.rect(),
                                    tools)
                         .isEmpty();
                 }),
                 "the tool tip stayed");
    }

    void assignAPadThroughTheLocateDialog()
    {
        m_x->click(m_main, padButton(0));
        locate(QStringLiteral("alpha.wav"), true);
        QVERIFY(until([&] { return labelShowsText(0); }));
    }

    void playThePad()
    {
        const std::size_t from = m_recorder.position();
        m_x->click(m_main, padButton(0));
        QVERIFY(m_recorder.waitUntil(from + MonitorRecorder::rate * 2, 10000ms));
        const auto heard = m_recorder.samples(from, m_recorder.position());
        const ToneSpan span = findTone(heard, 440, MonitorRecorder::rate);
        QVERIFY2(
            span.seconds(MonitorRecorder::rate) > 0.8,
            qPrintable(
                QStringLiteral("440 Hz heard for %1 s").arg(span.seconds(MonitorRecorder::rate))));
        m_x->shot(QStringLiteral("played"));
    }

    void assignASecondPadInTheRememberedFolder()
    {
        m_x->click(m_main, padButton(1));
        locate(QStringLiteral("bravo.wav"), false);
        QVERIFY(until([&] { return labelShowsText(1); }));
    }

    void saveThePreset()
    {
        QVERIFY(
            saveBoardAs(*m_x, m_main, QStringLiteral("Bellboard 1.2.6"), QStringLiteral("e2e")));

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
        m_x->click(m_main, {7 + 36, 413 + 10}); // "&Clear all"
        QVERIFY(until([&] { return !labelShowsText(0) && !labelShowsText(1); }));
    }

    void loadThePreset()
    {
        const QStringList before = m_x->windows(QStringLiteral("Bellboard 1.2.6"));
        m_x->click(m_main, {91 + 36, 413 + 10}); // "&Load preset"
        const Window dlg = m_x->waitWindow(QStringLiteral("Bellboard 1.2.6"), before);
        QVERIFY2(!dlg.id.isEmpty(), "the presets dialog did not open");
        m_x->click(dlg, {14 + 40, 63 + 8}); // the first entry of the list: the only preset
        m_x->shot(QStringLiteral("load-dialog"));
        m_x->click(dlg, {14 + 25, 301 + 11}); // "&Load"
        QVERIFY(until([&] { return m_x->windows(QStringLiteral("Bellboard 1.2.6")).size() == 1; }));
        QVERIFY(until([&] { return labelShowsText(0) && labelShowsText(1); }));
    }

    void anotherPadCutsTheFirstOff()
    {
        QVERIFY2(startLongTone(), "the second pad's 660 Hz was not heard");
        const std::size_t at = m_recorder.frameAt(MonitorRecorder::Clock::now());
        m_x->click(m_main, padButton(0)); // one second of 440 Hz in its place
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
        m_x->click(m_main, {567 + 11, 413 + 11}); // Stop
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
        m_x->shot(QStringLiteral("stopped"));
    }

    void clearOnePadFromItsMenu()
    {
        m_x->click(m_main, padButton(0), 3);
        std::this_thread::sleep_for(300ms);
        m_x->shot(QStringLiteral("menu"));
        m_x->keys({"Down", "Return"});
        QVERIFY(until([&] { return !labelShowsText(0); }));
        QVERIFY(labelShowsText(1));
    }

    // A compositor that tiles the board gives it more room than its fixed size: the board
    // keeps its size inside that room, whole, and still takes the keys.
    void aTilingCompositorCutsNothingOff()
    {
        auto *wayland = dynamic_cast<WaylandSession *>(m_x.get());
        if (!wayland)
            QSKIP("the X server here runs without a window manager");
        QVERIFY(wayland->command(QStringLiteral("[title=\"Bellboard 1.2.6\"] floating disable")));
        QVERIFY2(until([&] { return m_x->window(m_main.id).geometry.width() > 654; }),
                 "sway did not tile the board");
        const QRect room = m_x->window(m_main.id).geometry;
        QCOMPARE(wayland->drawnSize(m_main.id), QSize(654, 442));
        QVERIFY(room.width() >= 654 && room.height() >= 442);
        const QStringList before = m_x->windows(QStringLiteral("Bellboard 1.2.6"));
        m_x->keys({"alt+a"});
        QVERIFY2(!m_x->waitWindow(QStringLiteral("Bellboard 1.2.6"), before).id.isEmpty(),
                 "the tiled board did not take Alt+A");
        m_x->shot(QStringLiteral("tiled"));
        m_x->keys({"alt+o"});
        QVERIFY(until([&] { return m_x->windows(QStringLiteral("Bellboard 1.2.6")) == before; }));
    }

    // With no window system to show it on, the program says so in one line and fails.
    void withoutADisplay_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("wayland");
        QTest::newRow("neither named") << ""
                                       << "";
        QTest::newRow("an X display with no server") << ":987"
                                                     << "";
        QTest::newRow("a Wayland socket with no compositor") << ""
                                                             << "/nonexistent/wayland-9";
        QTest::newRow("both, neither answering") << ":987"
                                                 << "wayland-9";
    }

    void withoutADisplay()
    {
        if (windowsDone)
            QSKIP("about windows alone: checked on the PulseAudio run");
        QFETCH(QString, display);
        QFETCH(QString, wayland);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        if (!display.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), display);
        if (!wayland.isEmpty())
            env.insert(QStringLiteral("WAYLAND_DISPLAY"), wayland);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_tmp.path());
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(m_programFolder + "/bellboard", {});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        const QList<QByteArray> lines = p.readAllStandardError().trimmed().split('\n');
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains("no display found"), lines[0].constData());
    }

    void theProgramIsStillRunning()
    {
        QCOMPARE(m_program.state(), QProcess::Running);
        QCOMPARE(m_x->windows(QStringLiteral("Bellboard 1.2.6")).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "test_e2e.moc"
