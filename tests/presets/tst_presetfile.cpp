// The preset file at the byte level, without any window.
#include "platform/pathcodec.h"
#include "platform/programinfo.h"
#include "presets/presetfile.h"
#include "support/files.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace bellboard;
using namespace bellboard::test;

namespace {

// The first entries of a board; the rest are empty.
PadPaths board(const QStringList &first)
{
    PadPaths paths;
    for (int i = 0; i < first.size(); ++i)
        paths[i] = first[i];
    return paths;
}

QStringList asList(const PadPaths &paths)
{
    return QStringList(paths.begin(), paths.end());
}

QString nonUtf8(const char *bytes)
{
    return platform::decodePath(QByteArray(bytes));
}

} // namespace

class TestPresetFile final : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        platform::setProgramFolderOverride(m_dir->path());
    }
    void cleanup() { platform::setProgramFolderOverride(QString()); }

    void pathJoin_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file");
        QTest::newRow("plain") << "Party"
                               << "Party.pst";
        QTest::newRow("empty name") << ""
                                    << ".pst";
        QTest::newRow("blanks kept") << " Jazz  "
                                     << " Jazz  .pst";
        QTest::newRow("extension appended anyway") << "Rock.PST"
                                                   << "Rock.PST.pst";
        QTest::newRow("subfolder") << "sub/Gig"
                                   << "sub/Gig.pst";
    }
    void pathJoin()
    {
        QFETCH(QString, name);
        QFETCH(QString, file);
        QCOMPARE(presetPath(name), m_dir->path() + QLatin1Char('/') + file);
    }

    void layout_data()
    {
        QTest::addColumn<QStringList>("pads");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty board: 108 bytes") << QStringList() << crlfs(54);
        QTest::newRow("pads 0 and 2")
            << QStringList{"C:\\Sounds\\Door Bell.wav", "", "D:\\Ring.WAV"}
            << QByteArray("C:\\Sounds\\Door Bell.wav\r\n\r\nD:\\Ring.WAV\r\n") + crlfs(51);
        QTest::newRow("pad 53 only") << (QStringList() << QStringList(53, QString()) << "/z.wav")
                                     << crlfs(53) + "/z.wav\r\n";
        QTest::newRow("UTF-8 name") << QStringList{QStringLiteral("/snd/Glöckchen.wav")}
                                    << QByteArray("/snd/Gl\xc3\xb6"
                                                  "ckchen.wav\r\n")
                                           + crlfs(53);
        QTest::newRow("non-UTF-8 bytes kept") << QStringList{nonUtf8("/snd/caf\xe9.wav")}
                                              << QByteArray("/snd/caf\xe9.wav\r\n") + crlfs(53);
    }
    void layout()
    {
        QFETCH(QStringList, pads);
        QFETCH(QByteArray, bytes);
        QCOMPARE(writePresetFile(presetPath("Party"), board(pads)), int(NoError));
        QCOMPARE(readBytes(m_dir->filePath("Party.pst")), bytes);
        QCOMPARE(entries(m_dir->path()), QStringList{"Party.pst"}); // no temporary file left
    }

    void roundTrip_data()
    {
        QTest::addColumn<QStringList>("pads");
        QTest::newRow("blanks") << QStringList{"C:\\My Sounds\\door bell .wav", " lead.wav"};
        QTest::newRow("commas") << QStringList{"/a,b/c,d.wav", ",", "x,,y.wav"};
        QTest::newRow("quotes") << QStringList{"\"/q\".wav", "it's.wav", "\"\""};
        QTest::newRow("non-UTF-8 bytes")
            << QStringList{nonUtf8("/x/\xff\xfe.wav"), nonUtf8("/x/\xe9t\xe9.wav")};
        QTest::newRow("every pad") << QStringList(54, QStringLiteral("/snd/all.wav"));
        QTest::newRow("longest line") << QStringList{QString(kMaxLineBytes, QLatin1Char('p'))};
    }
    void roundTrip()
    {
        QFETCH(QStringList, pads);
        QCOMPARE(writePresetFile(presetPath("Trip"), board(pads)), int(NoError));
        PadPaths back;
        QCOMPARE(readPresetFile(presetPath("Trip"), back), int(NoError));
        QCOMPARE(asList(back), asList(board(pads)));
    }

    // Files not written by the program: what is read and what is refused.
    void read_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("error");
        QTest::addColumn<QStringList>("pads");

        QByteArray lines60;
        QStringList first54;
        for (int i = 0; i < 60; ++i) {
            lines60 += "/s/" + QByteArray::number(i) + ".wav\r\n";
            if (i < 54)
                first54 << QStringLiteral("/s/%1.wav").arg(i);
        }
        QByteArray lines10;
        QStringList first10;
        for (int i = 0; i < 10; ++i) {
            lines10 += "/t/" + QByteArray::number(i) + ".wav\r\n";
            first10 << QStringLiteral("/t/%1.wav").arg(i);
        }
        QByteArray lf54 = "/a.wav\n\n/c.wav\n" + QByteArray(51, '\n');

        QTest::newRow("60 lines: first 54") << lines60 << int(NoError) << first54;
        QTest::newRow("10 lines: 62") << lines10 << int(InputPastEnd) << first10;
        QTest::newRow("empty file: 62") << QByteArray() << int(InputPastEnd) << QStringList();
        QTest::newRow("LF only") << lf54 << int(NoError) << QStringList{"/a.wav", "", "/c.wav"};
        QTest::newRow("CR LF and LF mixed") << QByteArray("/a.wav\n/b.wav\r\n") + crlfs(52)
                                            << int(NoError) << QStringList{"/a.wav", "/b.wav"};
        QTest::newRow("54th line without line end") << crlfs(53) + "/last.wav" << int(NoError)
                                                    << (QStringList(53, QString()) << "/last.wav");
        QTest::newRow("10th line without line end: still 62")
            << lines10.chopped(2) << int(InputPastEnd) << first10;
        QTest::newRow("CR alone ends a line")
            << QByteArray("/a.wav\r/b.wav\r") + QByteArray(52, '\r') << int(NoError)
            << QStringList{"/a.wav", "/b.wav"};
        QTest::newRow("CR alone, short: 62") << QByteArray("/a.wav\r/b.wav\r") << int(InputPastEnd)
                                             << QStringList{"/a.wav", "/b.wav"};
        QTest::newRow("CR, LF and CR LF mixed, an LF right after a CR is one line end")
            << QByteArray("/a.wav\r\r\n/c.wav\n\r/e.wav\r\n") + crlfs(49) << int(NoError)
            << QStringList{"/a.wav", "", "/c.wav", "", "/e.wav"};
        QTest::newRow("line over 64 KiB: 59, earlier lines kept")
            << QByteArray("/a.wav\r\n/b.wav\r\n") + QByteArray(kMaxLineBytes + 1, 'x') + "\r\n"
                   + crlfs(51)
            << int(BadRecordLength) << QStringList{"/a.wav", "/b.wav"};
        QTest::newRow("endless line: 59")
            << QByteArray(4 * kMaxLineBytes, 'x') << int(BadRecordLength) << QStringList();
        QTest::newRow("binary: 54") << QByteArray("RIFF\x24\x08\0\0WAVEfmt \x10\0\0\0", 20)
                                    << int(BadFileMode) << QStringList();
        QTest::newRow("long garbage after line 54 is not read")
            << crlfs(54) + QByteArray(4 * kMaxLineBytes, '\0') << int(NoError) << QStringList();
    }
    void read()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, error);
        QFETCH(QStringList, pads);
        QVERIFY(writeBytes(m_dir->filePath("Hand.pst"), bytes));
        PadPaths back;
        QCOMPARE(readPresetFile(presetPath("Hand"), back), error);
        QCOMPARE(asList(back), asList(board(pads)));
    }

    // What the file system refuses, and the number each refusal gives.
    void refused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("loadError");
        QTest::addColumn<int>("saveError");
        QTest::newRow("no such preset") << "Nope" << int(FileNotFound) << int(NoError);
        QTest::newRow("missing subfolder")
            << "nosuch/Gig" << int(PathNotFound) << int(PathNotFound);
        QTest::newRow("a file on the path")
            << "plain.txt/Gig" << int(PathNotFound) << int(PathNotFound);
        QTest::newRow("a folder") << "Folder" << int(PathFileAccess) << int(PathFileAccess);
        QTest::newRow("a FIFO") << "Pipe" << int(PathFileAccess) << int(PathFileAccess);
        QTest::newRow("embedded NUL")
            << QString("Bad") + QChar(0) + "name" << int(BadFileName) << int(BadFileName);
        QTest::newRow("name too long")
            << QString(300, QLatin1Char('n')) << int(BadFileName) << int(BadFileName);
    }
    void refused()
    {
        QFETCH(QString, name);
        QFETCH(int, loadError);
        QFETCH(int, saveError);
        QVERIFY(writeBytes(m_dir->filePath("plain.txt"), "x"));
        QVERIFY(QDir(m_dir->path()).mkdir("Folder.pst"));
        QCOMPARE(::mkfifo(QFile::encodeName(m_dir->filePath("Pipe.pst")).constData(), 0644), 0);
        const QStringList before = entries(m_dir->path());

        PadPaths back;
        QCOMPARE(readPresetFile(presetPath(name), back), loadError);
        QCOMPARE(writePresetFile(presetPath(name), board({"/a.wav"})), saveError);
        if (saveError != NoError)
            QCOMPARE(entries(m_dir->path()), before);
    }

    // As in a fresh install, before the first save has made the preset folder: no preset is
    // there yet (53), while a save cannot go anywhere (76).
    void missingPresetFolder()
    {
        platform::setProgramFolderOverride(m_dir->filePath("gone"));
        PadPaths back;
        QCOMPARE(readPresetFile(presetPath("Party"), back), int(FileNotFound));
        QCOMPARE(readPresetFile(presetPath("sub/Party"), back), int(PathNotFound));
        QCOMPARE(writePresetFile(presetPath("Party"), back), int(PathNotFound));
    }

    void pathsThatCannotBeOneLine_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("line feed") << "/a\nb.wav";
        QTest::newRow("carriage return") << "/a\rb.wav";
        QTest::newRow("NUL") << QString("/a") + QChar(0) + "b.wav";
        QTest::newRow("over 64 KiB") << QString(kMaxLineBytes + 1, QLatin1Char('p'));
    }
    void pathsThatCannotBeOneLine()
    {
        QFETCH(QString, path);
        const QByteArray old = "/old.wav\r\n" + crlfs(53);
        QVERIFY(writeBytes(m_dir->filePath("Keep.pst"), old));
        QCOMPARE(writePresetFile(presetPath("Keep"), board({"/fine.wav", path})),
                 int(BadRecordLength));
        QCOMPARE(readBytes(m_dir->filePath("Keep.pst")), old);
        QCOMPARE(entries(m_dir->path()), QStringList{"Keep.pst"});
    }

    void replaceKeepsModeAndLinks()
    {
        QVERIFY(writeBytes(m_dir->filePath("Gig.pst"), "old"));
        QVERIFY(QFile::setPermissions(m_dir->filePath("Gig.pst"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QVERIFY(QFile::link(m_dir->filePath("Gig.pst"), m_dir->filePath("Link.pst")));

        QCOMPARE(writePresetFile(presetPath("Link"), board({"/new.wav"})), int(NoError));
        QVERIFY(QFileInfo(m_dir->filePath("Link.pst")).isSymLink());
        QCOMPARE(readBytes(m_dir->filePath("Gig.pst")), "/new.wav\r\n" + crlfs(53));
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(m_dir->filePath("Gig.pst")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        QCOMPARE(entries(m_dir->path()), (QStringList{"Gig.pst", "Link.pst"}));
    }

    // A preset without write bits is read-only, for root as well: not replaced, not deleted.
    void readOnlyPreset()
    {
        const QByteArray old = "/keep.wav\r\n" + crlfs(53);
        const QString file = m_dir->filePath("Old.pst");
        QVERIFY(writeBytes(file, old));
        QVERIFY(
            QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

        QCOMPARE(writePresetFile(presetPath("Old"), board({"/new.wav"})), int(PathFileAccess));
        QCOMPARE(deletePresetFile(presetPath("Old")), int(PathFileAccess));
        QCOMPARE(readBytes(file), old);
        QCOMPARE(entries(m_dir->path()), QStringList{"Old.pst"});
        PadPaths back;
        QCOMPARE(readPresetFile(presetPath("Old"), back), int(NoError)); // still loads
        QCOMPARE(back[0], QStringLiteral("/keep.wav"));
    }

    // A save that runs out of space half-way leaves the old preset whole and no stray file.
    // "tmpfs" is a real 64 KiB file system (needs the right to mount); "size limit" makes the
    // kernel refuse the write through RLIMIT_FSIZE, which works for any user.
    void diskFull_data()
    {
        QTest::addColumn<bool>("mountTmpfs");
        QTest::addColumn<bool>("replacing");
        QTest::newRow("tmpfs, replacing a preset") << true << true;
        QTest::newRow("tmpfs, new preset") << true << false;
        QTest::newRow("size limit, replacing a preset") << false << true;
        QTest::newRow("size limit, new preset") << false << false;
    }
    void diskFull()
    {
        QFETCH(bool, mountTmpfs);
        QFETCH(bool, replacing);

        QString folder = m_dir->path();
        const QByteArray mountPoint = QFile::encodeName(m_dir->filePath("small"));
        if (mountTmpfs) {
            QVERIFY(QDir(m_dir->path()).mkdir("small"));
            if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k,mode=0755") != 0)
                QSKIP("cannot mount a tmpfs here; the size-limit rows cover the same path");
            folder = QFile::decodeName(mountPoint);
            platform::setProgramFolderOverride(folder);
        }
        const auto unmount = qScopeGuard([&] {
            if (mountTmpfs)
                ::umount2(mountPoint.constData(), MNT_DETACH);
        });

        const QByteArray old = "/old.wav\r\n" + crlfs(53);
        if (replacing)
            QVERIFY(writeBytes(folder + "/Full.pst", old));
        const QStringList before = entries(folder);

        // 54 lines of 2000 bytes: more than either limit allows.
        const PadPaths big = board(QStringList(54, QString(2000, QLatin1Char('w'))));
        int error = 0;
        if (mountTmpfs) {
            error = writePresetFile(presetPath("Full"), big);
        } else {
            rlimit saved{};
            QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = saved;
            small.rlim_cur = 16 * 1024;
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
            error = writePresetFile(presetPath("Full"), big);
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
        }
        QCOMPARE(error, int(DiskFull));
        QCOMPARE(entries(folder), before);
        if (replacing)
            QCOMPARE(readBytes(folder + "/Full.pst"), old);
    }

    void list_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("listed"); // in any order
        QTest::newRow("no presets") << QStringList{"notes.txt"} << QStringList();
        QTest::newRow("suffix exact, case included")
            << QStringList{"Jazz.pst", "Rock.pst",  "notes.txt", "Loud.PST",
                           "Soft.Pst", "a.pst.bak", "pst"}
            << QStringList{"Jazz", "Rock"};
        QTest::newRow("the empty name and blanks")
            << QStringList{".pst", " Spaced .pst", "x.pst.pst"}
            << QStringList{"", " Spaced ", "x.pst"};
        QTest::newRow("folders are not files")
            << QStringList{"Folder.pst/", "Gig.pst"} << QStringList{"Gig"};
    }
    void list()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, listed);
        for (const QString &f : files) {
            if (f.endsWith('/'))
                QVERIFY(QDir(m_dir->path()).mkdir(f.chopped(1)));
            else
                QVERIFY(writeBytes(m_dir->filePath(f), crlfs(54)));
        }
        const QStringList names = listPresets(m_dir->path());
        // The listing's own order: the order the directory stream gives.
        QStringList order;
        QDirIterator it(m_dir->path(), QDir::Files | QDir::Hidden);
        while (it.hasNext()) {
            const QString n = it.next().section('/', -1);
            if (n.endsWith(".pst") && listed.contains(n.chopped(4)))
                order << n.chopped(4);
        }
        QCOMPARE(names, order);
        QStringList sorted = names;
        sorted.sort();
        listed.sort();
        QCOMPARE(sorted, listed);
    }

    void listNonUtf8Name()
    {
        const QByteArray name = QFile::encodeName(m_dir->path()) + "/caf\xe9.pst";
        {
            const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, crlfs(54).constData(), 108), ssize_t(108));
            ::close(fd);
        }
        const QStringList names = listPresets(m_dir->path());
        QCOMPARE(names, QStringList{nonUtf8("caf\xe9")});
        // The listed text names the file again, byte for byte.
        PadPaths back;
        QCOMPARE(readPresetFile(presetPath(names[0]), back), int(NoError));
        QCOMPARE(deletePresetFile(presetPath(names[0])), int(NoError));
        QCOMPARE(::access(name.constData(), F_OK), -1);
    }

    void listUnlistable()
    {
        QVERIFY(listPresets(m_dir->filePath("gone")).isEmpty());
        QVERIFY(writeBytes(m_dir->filePath("file.pst"), "x"));
        QVERIFY(listPresets(m_dir->filePath("file.pst")).isEmpty());
    }

    void remove_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("error");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("deleted") << "Jazz" << int(NoError) << QStringList{"Folder.pst", "Rock.pst"};
        QTest::newRow("already gone")
            << "Blues" << int(FileNotFound) << QStringList{"Folder.pst", "Jazz.pst", "Rock.pst"};
        QTest::newRow("a folder") << "Folder" << int(PathFileAccess)
                                  << QStringList{"Folder.pst", "Jazz.pst", "Rock.pst"};
        QTest::newRow("missing subfolder")
            << "no/Jazz" << int(PathNotFound) << QStringList{"Folder.pst", "Jazz.pst", "Rock.pst"};
    }
    void remove()
    {
        QFETCH(QString, name);
        QFETCH(int, error);
        QFETCH(QStringList, left);
        QVERIFY(writeBytes(m_dir->filePath("Jazz.pst"), crlfs(54)));
        QVERIFY(writeBytes(m_dir->filePath("Rock.pst"), crlfs(54)));
        QVERIFY(QDir(m_dir->path()).mkdir("Folder.pst"));
        QCOMPARE(deletePresetFile(presetPath(name)), error);
        QCOMPARE(entries(m_dir->path()), left);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestPresetFile)
#include "tst_presetfile.moc"
