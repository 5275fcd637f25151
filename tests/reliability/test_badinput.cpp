// The catalogue of bad input: wave files that are not, and preset files that are anything
// but. Each goes through the main window as a user's click would send it. Whatever it is,
// the window keeps answering, nothing is lost, and the next good action works.
#include "platform/pathcodec.h"
#include "platform/programinfo.h"
#include "presets/presets.h"
#include "support/audiodetect.h"
#include "support/audiorecorder.h"
#include "support/audiotone.h"
#include "support/messages.h"
#include "ui/main/form1.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace bellboard;
using namespace bellboard::test;
using namespace std::chrono_literals;

namespace {

using Setup = std::function<QString(const QString &dir)>; // makes the input, returns its path

// A 16-bit PCM header with whatever values it is given, then `tail` bytes of sound.
QByteArray waveHeader(quint16 channels, quint32 rate, quint32 dataSize, int tail)
{
    return pcmWaveHeader(36 + dataSize, channels, rate, 16, dataSize) + QByteArray(tail, '\x10');
}

QString write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return path;
}

QByteArray hashOf(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return h.result();
}

// How long the window takes to run an event posted to it: it answers, or it hangs.
qint64 answerMs()
{
    QElapsedTimer t;
    t.start();
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    while (!ran && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return ran ? t.elapsed() : -1;
}

QByteArray lines(int count, const QByteArray &end)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += "/snd/pad" + QByteArray::number(i) + ".wav" + end;
    return out;
}

} // namespace

class TestBadInput final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    MonitorRecorder m_recorder;
    QString m_good;

    // A board with its own program folder and the real sound service.
    struct Board
    {
        Module1 module;
        Form1 form{module};
        Board() { form.Timer1()->stop(); }
        void assign(int i, const QString &path)
        {
            module.padPaths[i] = path;
            form.Label1(i)->setText(padLabel(path));
            form.wave(i)->setText(QStringLiteral(">"));
        }
    };

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        platform::setProgramFolderOverride(m_dir.path());
        m_good = m_dir.filePath(QStringLiteral("good.wav"));
        QVERIFY(writeToneFile(m_good, {.frequency = 1200.0, .seconds = 0.3}));
        QVERIFY(m_recorder.start());
    }

    void cleanupTestCase() { m_recorder.stop(); }

    void badWaves_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::newRow("a folder named x.wav") << Setup([](const QString &d) {
            QDir(d).mkpath("x.wav");
            return d + "/x.wav";
        });
        QTest::newRow("a named pipe") << Setup([](const QString &d) {
            ::mkfifo(QFile::encodeName(d + "/pipe.wav").constData(), 0600);
            return d + "/pipe.wav";
        });
        // "/dev/zero" itself would label its pad empty, leaving it unassigned.
        QTest::newRow("/dev/zero") << Setup([](const QString &d) {
            QFile::link(QStringLiteral("/dev/zero"), d + "/zero.wav");
            return d + "/zero.wav";
        });
        QTest::newRow("a symlink loop") << Setup([](const QString &d) {
            QFile::link(d + "/loop2.wav", d + "/loop1.wav");
            QFile::link(d + "/loop1.wav", d + "/loop2.wav");
            return d + "/loop1.wav";
        });
        QTest::newRow("a truncated file") << Setup([](const QString &d) {
            return write(d + "/cut.wav", waveHeader(2, 48000, 96000, 0).left(30));
        });
        QTest::newRow("4 GB of data claimed in a tiny file") << Setup([](const QString &d) {
            return write(d + "/claim.wav", waveHeader(2, 48000, 0xFFFFFFF0u, 64));
        });
        QTest::newRow("zero channels") << Setup([](const QString &d) {
            return write(d + "/mute.wav", waveHeader(0, 48000, 4000, 4000));
        });
        QTest::newRow("an absurd sample rate") << Setup([](const QString &d) {
            return write(d + "/rate.wav", waveHeader(2, 4000000000u, 4000, 4000));
        });
        QTest::newRow("a text file renamed .wav") << Setup(
            [](const QString &d) { return write(d + "/notes.wav", "Remember to buy milk.\n"); });
        QTest::newRow("a file that is gone")
            << Setup([](const QString &d) { return d + "/gone.wav"; });
    }

    // The pad is clicked like any other: nothing plays, the window answers at once, and the
    // next pad plays.
    void badWaves()
    {
        QFETCH(Setup, setup);
        QTemporaryDir dir;
        const QString bad = setup(dir.path());
        Board b;
        b.assign(0, bad);
        b.assign(1, m_good);

        const std::size_t from = m_recorder.position();
        QElapsedTimer click;
        click.start();
        b.form.padClick(0);
        const qint64 clickMs = click.elapsed();
        const qint64 answer = answerMs();
        QVERIFY2(clickMs < 1000, qPrintable(QStringLiteral("the click took %1 ms").arg(clickMs)));
        QVERIFY2(answer >= 0 && answer < 1000,
                 qPrintable(QStringLiteral("answered after %1 ms").arg(answer)));
        QCOMPARE(b.module.padPaths[0], bad);
        QCOMPARE(b.form.Label1(0)->text(), padLabel(bad));

        std::this_thread::sleep_for(200ms);
        b.form.padClick(1);
        QVERIFY(m_recorder.waitUntil(from + MonitorRecorder::rate * 1, 5000ms));
        const auto heard = m_recorder.samples(from, m_recorder.position());
        QVERIFY2(findTone(heard, 1200.0, MonitorRecorder::rate).windows >= 15,
                 "the good pad after the bad one was not heard");
    }

    void badPresets_data()
    {
        QTest::addColumn<bool>("save");
        QTest::addColumn<Setup>("setup");     // makes the preset; returns its name
        QTest::addColumn<QString>("message"); // the box shown, or empty
        QTest::addColumn<int>("assigned");    // pads assigned afterwards
        QTest::addColumn<bool>("unchanged");  // the file keeps its bytes

        auto file = [](const QString &name, const QByteArray &bytes) {
            return Setup([name, bytes](const QString &d) {
                write(d + "/" + name + ".pst", bytes);
                return name;
            });
        };
        QTest::newRow("load: a 1 GB line") << false << Setup([](const QString &d) {
            QFile f(d + "/huge.pst");
            if (f.open(QIODevice::WriteOnly) && f.write("/snd/first.wav") > 0)
                f.resize(qint64(1) << 30); // sparse: the rest of the line is there, not on disk
            return QStringLiteral("huge");
        }) << "File Error#59" << 0 << true;
        QTest::newRow("load: binary junk") << false << file("junk", [] {
            QByteArray b(4096, 0);
            QRandomGenerator rng(7);
            for (char &c : b)
                c = char(rng.bounded(256));
            return b;
        }()) << "File Error#54" << -1 << true;
        QTest::newRow("load: NUL bytes")
            << false << file("nul", QByteArray("/a.wav\r\n/b\0c.wav\r\n", 19)) << "File Error#54"
            << 1 << true;
        QTest::newRow("load: 10,000 lines")
            << false << file("many", lines(10000, "\r\n")) << "" << 54 << true;
        QTest::newRow("load: CR only") << false << file("cr", lines(54, "\r")) << "" << 54 << true;
        QTest::newRow("load: LF only") << false << file("lf", lines(54, "\n")) << "" << 54 << true;
        QTest::newRow("load: mixed line ends")
            << false << file("mixed", lines(18, "\r\n") + lines(18, "\n") + lines(18, "\r")) << ""
            << 54 << true;
        QTest::newRow("load: non-UTF-8 bytes")
            << false << file("latin", QByteArray("/snd/caf\xe9.wav\r\n") + lines(53, "\r\n")) << ""
            << 54 << true;
        QTest::newRow("load: a folder") << false << Setup([](const QString &d) {
            QDir(d).mkpath("Folder.pst");
            return QStringLiteral("Folder");
        }) << "File Error#75" << 3 << true;
        QTest::newRow("load: a missing subfolder")
            << false << Setup([](const QString &) { return QStringLiteral("nosuch/Gig"); })
            << "File Error#76" << 3 << true;
        QTest::newRow("save: over a folder") << true << Setup([](const QString &d) {
            QDir(d).mkpath("Folder.pst");
            return QStringLiteral("Folder");
        }) << "File Error#75" << 3 << true;
        QTest::newRow("save: over a read-only preset") << true << Setup([](const QString &d) {
            write(d + "/Locked.pst", lines(54, "\r\n"));
            QFile::setPermissions(d + "/Locked.pst",
                                  QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
            return QStringLiteral("Locked");
        }) << "File Error#75" << 3 << true;
        QTest::newRow("save: into a missing subfolder")
            << true << Setup([](const QString &) { return QStringLiteral("nosuch/Gig"); })
            << "File Error#76" << 3 << true;
    }

    void badPresets()
    {
        QFETCH(bool, save);
        QFETCH(Setup, setup);
        QFETCH(QString, message);
        QFETCH(int, assigned);
        QFETCH(bool, unchanged);
        QTemporaryDir dir;
        platform::setProgramFolderOverride(dir.path());
        const QString name = setup(dir.path());
        const QString path = dir.path() + "/" + name + ".pst";
        const QByteArray before = hashOf(path);

        Board b;
        for (int i : {0, 5, 53})
            b.assign(i, QStringLiteral("/snd/keep%1.wav").arg(i));
        const auto marquee = std::pair(b.module.marqueePos, b.module.marqueeStage);
        MessageCatcher boxes;
        if (save)
            savePreset(b.module, b.form, name);
        else
            loadPreset(b.module, b.form, name);
        QTRY_COMPARE(boxes.texts, message.isEmpty() ? QStringList() : QStringList{message});
        QVERIFY(boxes.malformed.isEmpty());
        QVERIFY(answerMs() >= 0);

        int count = 0;
        for (int i = 0; i < kPadCount; ++i) {
            const bool on = !b.module.padPaths[i].isEmpty();
            count += on;
            // Label and caption always agree with the path.
            QCOMPARE(b.form.wave(i)->text(), on ? QStringLiteral(">") : QStringLiteral("..."));
            QCOMPARE(b.form.Label1(i)->text(), padLabel(b.module.padPaths[i]));
        }
        if (assigned >= 0)
            QCOMPARE(count, assigned);
        if (unchanged)
            QCOMPARE(hashOf(path), before);
        QCOMPARE(std::pair(b.module.marqueePos, b.module.marqueeStage), marquee);
        const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        for (const QString &f : left)
            QVERIFY2(f.endsWith(QLatin1String(".pst")), qPrintable("left behind: " + f));
        platform::setProgramFolderOverride(m_dir.path());
    }

    void nonUtf8PathsComeBackByteForByte()
    {
        QTemporaryDir dir;
        platform::setProgramFolderOverride(dir.path());
        const QByteArray raw("/snd/\xff\xfe caf\xe9.wav");
        Board b;
        b.assign(7, platform::decodePath(raw));
        savePreset(b.module, b.form, QStringLiteral("Bytes"));
        b.form.clearAll();
        loadPreset(b.module, b.form, QStringLiteral("Bytes"));
        QCOMPARE(platform::encodePath(b.module.padPaths[7]), raw);
        platform::setProgramFolderOverride(m_dir.path());
    }
};

QTEST_MAIN(TestBadInput)
#include "test_badinput.moc"
