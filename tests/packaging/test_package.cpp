// The Debian package's files, unpacked into a temporary root, run as the installed program:
// started from its usr/bin link on a private X server, it saves a preset into the user's data
// folder and writes nothing into the installed tree.
#include "support/files.h"
#include "support/xsession.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace bellboard::test;

namespace {

// Every path below `root` with its kind and permissions: what a stray write would change.
QStringList tree(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo f(it.next());
        out << QStringLiteral("%1 %2 %3")
                   .arg(f.filePath().mid(root.size()))
                   .arg(f.isSymLink() ? 'l'
                        : f.isDir()   ? 'd'
                                      : 'f')
                   .arg(int(f.permissions()), 0, 16);
    }
    out.sort();
    return out;
}

} // namespace

class TestPackage final : public QObject
{
    Q_OBJECT

private:
    XSession m_x{QStringLiteral(BELLBOARD_BINARY_DIR "/package-artifacts")};
    QTemporaryDir m_tmp;
    QString m_root;
    QString m_data;
    QString m_caption;
    QProcess m_program;
    Window m_main;

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_root = m_tmp.filePath(QStringLiteral("root"));
        QCOMPARE(QProcess::execute(QStringLiteral("dpkg-deb"),
                                   {"-x", QStringLiteral(BELLBOARD_DEB), m_root}),
                 0);
        QVERIFY(QFileInfo(m_root + "/usr/bin/bellboard").isSymLink());

        // A user whose data folder does not exist yet: the first save makes it.
        const QString home = m_tmp.filePath(QStringLiteral("home"));
        QVERIFY(QDir().mkpath(home));
        m_data = m_tmp.filePath(QStringLiteral("xdg/data"));

        QVERIFY2(m_x.start(), "no X server could be started");
        QProcessEnvironment env = m_x.environment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_data);
        m_program.setProcessEnvironment(env);
        m_program.setWorkingDirectory(home);
        m_program.setProcessChannelMode(QProcess::ForwardedChannels);
        m_program.start(m_root + "/usr/bin/bellboard", {});
        QVERIFY(m_program.waitForStarted());
        // The window shows the version the package is labelled with.
        QProcess control;
        control.start(QStringLiteral("dpkg-deb"), {"-f", QStringLiteral(BELLBOARD_DEB), "Version"});
        QVERIFY(control.waitForFinished());
        m_caption = QStringLiteral("Bellboard ") + QString::fromUtf8(control.readAll()).trimmed();
        m_main = m_x.waitWindow(m_caption);
        QVERIFY2(!m_main.id.isEmpty(), "the main window did not appear");
        m_x.shot(QStringLiteral("start"));
    }

    void cleanupTestCase()
    {
        if (m_program.state() != QProcess::NotRunning) {
            m_program.terminate();
            if (!m_program.waitForFinished(5000))
                m_program.kill();
        }
    }

    void savesIntoTheUsersDataFolder()
    {
        const QStringList installed = tree(m_root);
        QVERIFY(installed.size() > 20);

        QVERIFY(saveBoardAs(m_x, m_main, m_caption, QStringLiteral("packaged")));
        const QString folder = m_data + "/bellboard";
        QVERIFY(until([&] { return QFileInfo::exists(folder + "/packaged.pst"); }));
        // An empty board: 54 empty lines, CR LF as always.
        QCOMPARE(readBytes(folder + "/packaged.pst"), crlfs(54));
        QCOMPARE(entries(folder), QStringList{QStringLiteral("packaged.pst")});
        // Only the user may enter the folders a save makes.
        const QFile::Permissions anyone(0x7077);
        QCOMPARE(QFileInfo(folder).permissions() & anyone,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(tree(m_root), installed);
        QCOMPARE(m_program.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "test_package.moc"
