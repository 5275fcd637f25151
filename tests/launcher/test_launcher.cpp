#include "platform/launcher.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

using bellboard::platform::startProgram;

namespace {

// Fake programs on a search path of their own: each appends its name and arguments to a
// log, one line per run.
class FakePath final
{
public:
    FakePath() : m_oldPath(qgetenv("PATH")) { qputenv("PATH", m_dir.path().toLocal8Bit()); }
    ~FakePath() { qputenv("PATH", m_oldPath); }

    QString logPath() const { return m_dir.filePath(QStringLiteral("runs.log")); }

    void add(const QString &name, const QByteArray &interpreter = "/bin/sh")
    {
        QFile script(m_dir.filePath(name));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!" + interpreter + "\n");
        script.write("echo \"${0##*/} $*\" >> '" + logPath().toLocal8Bit() + "'\n");
        script.close();
        QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
    }

    void addNotExecutable(const QString &name)
    {
        QFile file(m_dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
    }

    QStringList runs() const
    {
        QFile log(logPath());
        if (!log.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromLocal8Bit(log.readAll()).split(QLatin1Char('\n'));
        lines.removeAll(QString());
        for (QString &line : lines) {
            // The path of a program run in a terminal is absolute; keep its name only.
            line.replace(m_dir.path() + QLatin1Char('/'), QString());
            line = line.trimmed();
        }
        return lines;
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldPath;
};

} // namespace

class LauncherTest final : public QObject
{
    Q_OBJECT

private slots:
    void startsProgram_data();
    void startsProgram();
    void twoCallsStartTwoInstances();
    void nothingToStart_data();
    void nothingToStart();
};

void LauncherTest::startsProgram_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("expected");

    const QString rec = QStringLiteral("sndrec32.exe");
    const QString vol = QStringLiteral("sndvol32.exe");

    QTest::newRow("recorder by exact name")
        << rec << QStringList{"gnome-sound-recorder", "sndrec32.exe", "sndvol32.exe"}
        << "sndrec32.exe";
    QTest::newRow("volume by exact name")
        << vol << QStringList{"pavucontrol", "sndvol32.exe", "sndrec32.exe"} << "sndvol32.exe";
    QTest::newRow("exact name, any case")
        << QStringLiteral("SNDVOL32.EXE") << QStringList{"pavucontrol"} << "pavucontrol";

    QTest::newRow("recorder: first choice")
        << rec << QStringList{"audacity", "audio-recorder", "krecorder", "gnome-sound-recorder"}
        << "gnome-sound-recorder";
    QTest::newRow("recorder: second choice")
        << rec << QStringList{"audacity", "audio-recorder", "krecorder"} << "krecorder";
    QTest::newRow("recorder: third choice")
        << rec << QStringList{"audacity", "audio-recorder"} << "audio-recorder";
    QTest::newRow("recorder: last choice") << rec << QStringList{"audacity"} << "audacity";
    QTest::newRow("recorder ignores mixers")
        << rec << QStringList{"pavucontrol", "sndvol32.exe", "audacity"} << "audacity";

    QTest::newRow("volume: first choice")
        << vol << QStringList{"kmix", "gnome-control-center", "pavucontrol"} << "pavucontrol";
    QTest::newRow("volume: GNOME opens its sound panel")
        << vol << QStringList{"kmix", "gnome-control-center"} << "gnome-control-center sound";
    QTest::newRow("volume: LXQt") << vol << QStringList{"kmix", "pavucontrol-qt"}
                                  << "pavucontrol-qt";
    QTest::newRow("volume: KMix before Plasma's settings")
        << vol << QStringList{"systemsettings", "kmix"} << "kmix";
    QTest::newRow("volume: Plasma")
        << vol << QStringList{"xfce4-mixer", "systemsettings"} << "systemsettings kcm_pulseaudio";
    QTest::newRow("volume: Xfce") << vol << QStringList{"mate-volume-control", "xfce4-mixer"}
                                  << "xfce4-mixer";
    QTest::newRow("volume: MATE") << vol << QStringList{"cinnamon-settings", "mate-volume-control"}
                                  << "mate-volume-control";
    QTest::newRow("volume: Cinnamon")
        << vol << QStringList{"cinnamon-settings", "xterm", "alsamixer"}
        << "cinnamon-settings sound";
    QTest::newRow("volume ignores recorders")
        << vol << QStringList{"gnome-sound-recorder", "sndrec32.exe", "mate-volume-control"}
        << "mate-volume-control";

    QTest::newRow("volume: terminal mixer")
        << vol << QStringList{"xterm", "alsamixer"} << "xterm -e alsamixer";
    QTest::newRow("volume: pulsemixer before alsamixer")
        << vol << QStringList{"xterm", "alsamixer", "pulsemixer"} << "xterm -e pulsemixer";
    QTest::newRow("volume: the system's terminal first")
        << vol << QStringList{"xterm", "konsole", "x-terminal-emulator", "alsamixer"}
        << "x-terminal-emulator -e alsamixer";
    QTest::newRow("volume: GNOME Terminal")
        << vol << QStringList{"xterm", "gnome-terminal", "alsamixer"}
        << "gnome-terminal -- alsamixer";
    QTest::newRow("volume: Konsole")
        << vol << QStringList{"xterm", "konsole", "xfce4-terminal", "alsamixer"}
        << "konsole -e alsamixer";
    QTest::newRow("volume: Xfce Terminal")
        << vol << QStringList{"xterm", "xfce4-terminal", "alsamixer"}
        << "xfce4-terminal -x alsamixer";

    QTest::newRow("unknown name, present")
        << QStringLiteral("notepad.exe") << QStringList{"notepad.exe", "pavucontrol"}
        << "notepad.exe";
}

void LauncherTest::startsProgram()
{
    QFETCH(QString, name);
    QFETCH(QStringList, installed);
    QFETCH(QString, expected);

    FakePath path;
    for (const QString &program : installed)
        path.add(program);

    QCOMPARE(startProgram(name), QString());
    QTRY_COMPARE(path.runs(), QStringList{expected});
}

void LauncherTest::twoCallsStartTwoInstances()
{
    FakePath path;
    path.add(QStringLiteral("sndrec32.exe"));
    path.add(QStringLiteral("pavucontrol"));

    QCOMPARE(startProgram(QStringLiteral("sndrec32.exe")), QString());
    QCOMPARE(startProgram(QStringLiteral("sndrec32.exe")), QString());
    QCOMPARE(startProgram(QStringLiteral("sndvol32.exe")), QString());
    QCOMPARE(startProgram(QStringLiteral("sndvol32.exe")), QString());

    QTRY_COMPARE(path.runs().size(), 4);
    QStringList runs = path.runs();
    runs.sort();
    QCOMPARE(runs, (QStringList{"pavucontrol", "pavucontrol", "sndrec32.exe", "sndrec32.exe"}));
}

void LauncherTest::nothingToStart_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QStringList>("notExecutable");
    QTest::addColumn<QStringList>("broken"); // on the path, but cannot run
    QTest::addColumn<QString>("role");

    const QString rec = QStringLiteral("sndrec32.exe");
    const QString vol = QStringLiteral("sndvol32.exe");

    QTest::newRow("recorder, empty path")
        << rec << QStringList{} << QStringList{} << QStringList{} << "sound recorder";
    QTest::newRow("volume, empty path")
        << vol << QStringList{} << QStringList{} << QStringList{} << "volume control (mixer)";
    QTest::newRow("recorder, only mixers")
        << rec << QStringList{"sndvol32.exe", "pavucontrol", "xterm", "alsamixer"} << QStringList{}
        << QStringList{} << "sound recorder";
    QTest::newRow("volume, only recorders")
        << vol << QStringList{"sndrec32.exe", "gnome-sound-recorder"} << QStringList{}
        << QStringList{} << "volume control (mixer)";
    QTest::newRow("volume, mixer without terminal")
        << vol << QStringList{"alsamixer", "pulsemixer"} << QStringList{} << QStringList{}
        << "volume control (mixer)";
    QTest::newRow("volume, terminal without mixer")
        << vol << QStringList{"xterm", "x-terminal-emulator"} << QStringList{} << QStringList{}
        << "volume control (mixer)";
    QTest::newRow("recorder, not executable")
        << rec << QStringList{} << QStringList{"sndrec32.exe", "gnome-sound-recorder"}
        << QStringList{} << "sound recorder";
    QTest::newRow("recorder, fails to start")
        << rec << QStringList{} << QStringList{} << QStringList{"sndrec32.exe", "audacity"}
        << "sound recorder";
    QTest::newRow("unknown name") << QStringLiteral("notepad.exe") << QStringList{"pavucontrol"}
                                  << QStringList{} << QStringList{} << QString();
}

void LauncherTest::nothingToStart()
{
    QFETCH(QString, name);
    QFETCH(QStringList, installed);
    QFETCH(QStringList, notExecutable);
    QFETCH(QStringList, broken);
    QFETCH(QString, role);

    FakePath path;
    for (const QString &program : installed)
        path.add(program);
    for (const QString &program : notExecutable)
        path.addNotExecutable(program);
    for (const QString &program : broken)
        path.add(program, "/nonexistent/interpreter");

    const QString message = startProgram(name);
    // Says what is missing and how to get it, in the words of a Linux desktop.
    QVERIFY2(role.isEmpty()
                 ? message == QStringLiteral("Could not start %1.").arg(name)
                 : message.startsWith("No " + role + " was found.")
                       && message.contains("sudo apt install ") && !message.contains(name),
             qPrintable(message));

    // Give anything wrongly started time to leave its trace.
    QTest::qWait(300);
    QCOMPARE(path.runs(), QStringList{});
}

QTEST_GUILESS_MAIN(LauncherTest)
#include "test_launcher.moc"
