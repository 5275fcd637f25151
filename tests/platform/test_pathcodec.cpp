#include "platform/pathcodec.h"
#include "platform/programinfo.h"

#include <QTest>

using namespace bellboard::platform;

class TestPathCodec final : public QObject
{
    Q_OBJECT

private slots:
    void roundTripsEveryByte_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QByteArray("/home/a/Door Bell.wav");
        QTest::newRow("blanks, commas, quotes") << QByteArray("/x/\"a, b\" 'c'.wav");
        QTest::newRow("utf-8") << QByteArray("/snd/caf\xc3\xa9/\xe2\x99\xaa.wav");
        QTest::newRow("4-byte utf-8") << QByteArray("/\xf0\x9f\x94\x94.wav");
        QTest::newRow("latin-1 byte") << QByteArray("/snd/caf\xe9.wav");
        QTest::newRow("lone continuation") << QByteArray("/\x80\xbf.wav");
        QTest::newRow("truncated sequence") << QByteArray("/a\xe2\x99");
        QTest::newRow("overlong slash") << QByteArray("/\xc0\xaf.wav");
        QTest::newRow("encoded surrogate") << QByteArray("/\xed\xb2\x80.wav");
        QTest::newRow("past U+10FFFF") << QByteArray("/\xf4\x90\x80\x80");
        QTest::newRow("every high byte") << [] {
            QByteArray all;
            for (int b = 0x80; b <= 0xff; ++b)
                all.append(char(b));
            return all;
        }();
        QTest::newRow("empty") << QByteArray();
    }

    void roundTripsEveryByte()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(encodePath(decodePath(bytes)), bytes);
    }

    void decodesValidUtf8AsText()
    {
        QCOMPARE(decodePath("/snd/caf\xc3\xa9.wav"), QStringLiteral("/snd/caf\u00e9.wav"));
        QCOMPARE(encodePath(QStringLiteral("\u266a")), QByteArray("\xe2\x99\xaa"));
    }

    void escapesInvalidBytesOneToOne()
    {
        const QString s = decodePath("a\xe9z");
        QCOMPARE(s.size(), 3);
        QCOMPARE(s.at(1).unicode(), char16_t(0xDCE9));
    }

    void programFolderOverride()
    {
        const QString real = programFolder();
        setProgramFolderOverride(QStringLiteral("/tmp/elsewhere"));
        QCOMPARE(programFolder(), QStringLiteral("/tmp/elsewhere"));
        QCOMPARE(presetFolder(), QStringLiteral("/tmp/elsewhere")); // in both builds
        setProgramFolderOverride(QString());
        QCOMPARE(programFolder(), real);
        QVERIFY(!real.isEmpty());
    }

    // Without the override each build keeps presets where it should, and the two places differ.
    void presetFolderOfThisBuild()
    {
        setProgramFolderOverride(QString());
        QVERIFY(programFolder() != userPresetFolder());
#ifdef BELLBOARD_USER_PRESETS
        QCOMPARE(presetFolder(), userPresetFolder());
#else
        QCOMPARE(presetFolder(), programFolder());
#endif
    }

    void userPresetFolderFollowsXdg_data()
    {
        QTest::addColumn<bool>("set");
        QTest::addColumn<QByteArray>("dataHome");
        QTest::addColumn<QString>("folder");
        const QString fallback = QStringLiteral("/home/tester/.local/share/bellboard");
        const QString data = QStringLiteral("/x/data/bellboard");
        QTest::newRow("absolute") << true << QByteArray("/x/data") << data;
        QTest::newRow("trailing slash") << true << QByteArray("/x/data/") << data;
        QTest::newRow("unset") << false << QByteArray() << fallback;
        QTest::newRow("empty") << true << QByteArray("") << fallback;
        QTest::newRow("relative, invalid") << true << QByteArray("data") << fallback;
    }

    void userPresetFolderFollowsXdg()
    {
        QFETCH(bool, set);
        QFETCH(QByteArray, dataHome);
        QFETCH(QString, folder);
        const QByteArray oldHome = qgetenv("HOME");
        const bool hadData = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        const QByteArray oldData = qgetenv("XDG_DATA_HOME");
        qputenv("HOME", "/home/tester");
        if (set)
            qputenv("XDG_DATA_HOME", dataHome);
        else
            qunsetenv("XDG_DATA_HOME");
        const QString got = userPresetFolder();
        qputenv("HOME", oldHome);
        if (hadData)
            qputenv("XDG_DATA_HOME", oldData);
        else
            qunsetenv("XDG_DATA_HOME");
        QCOMPARE(got, folder);
    }

    void versionRecord()
    {
        const Version v = programVersion();
        QCOMPARE(v.major, 1);
        QCOMPARE(v.minor, 2);
        QCOMPARE(v.build, 0);
        QCOMPARE(v.revision, 6);
    }
};

QTEST_GUILESS_MAIN(TestPathCodec)
#include "test_pathcodec.moc"
