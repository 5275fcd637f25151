// savePreset, loadPreset and refreshPads against the pad controls of a main window.
#include "support/fakemainwindow.h"
#include "support/files.h"
#include "support/messages.h"

#include "platform/programinfo.h"
#include "presets/presetfile.h"
#include "presets/presets.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace bellboard;
using namespace bellboard::test;
using bellboard::test::FakeMainWindow;
using bellboard::test::MessageCatcher;

namespace {

// Every pad obeys the display rule: label from the path, caption ">" or "...".
QString ruleBroken(const Module1 &m, const FakeMainWindow &w)
{
    for (int i = 0; i < kPadCount; ++i) {
        const QString &p = m.padPaths[i];
        const QString caption = p.isEmpty() ? QStringLiteral("...") : QStringLiteral(">");
        if (w.Label1(i)->text() != padLabel(p) || w.wave(i)->text() != caption)
            return QStringLiteral("pad %1: label '%2', caption '%3', path '%4'")
                .arg(i)
                .arg(w.Label1(i)->text(), w.wave(i)->text(), p);
    }
    return QString();
}

} // namespace

class TestPresets final : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        platform::setProgramFolderOverride(m_dir->path());
        m_module = Module1{};
        m_main.reset(new FakeMainWindow);
    }
    void cleanup() { platform::setProgramFolderOverride(QString()); }

    void labels_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("caption");
        QTest::newRow("unassigned") << ""
                                    << ""
                                    << "...";
        QTest::newRow("Door Bell") << "C:\\Sounds\\Door Bell.wav"
                                   << "Door Bell"
                                   << ">";
        QTest::newRow("Ring") << "D:\\Ring.WAV"
                              << "Ring"
                              << ">";
        QTest::newRow("double separator") << "C:\\\\door.wav"
                                          << "door"
                                          << ">";
        QTest::newRow("four-character component") << "C:\\Sounds\\.wav"
                                                  << ""
                                                  << ">";
        QTest::newRow("no separator") << "Chime.wav"
                                      << "Chime"
                                      << ">";
        QTest::newRow("component shorter than four") << "C:\\Sounds\\ab"
                                                     << ""
                                                     << ">";
        QTest::newRow("ends with separator") << "C:\\Sounds\\"
                                             << ""
                                             << ">";
        QTest::newRow("Linux path") << "/home/sam/snd/gong.wav"
                                    << "gong"
                                    << ">";
        QTest::newRow("mixed separators") << "C:\\a/b\\Horn.wav"
                                          << "Horn"
                                          << ">";
        QTest::newRow("extension not checked") << "/x/Buzzer.mp3"
                                               << "Buzzer"
                                               << ">";
        // As the locate dialog labels it too.
        QTest::newRow("file name holding a backslash") << "/snd/crowd\\cheer.wav"
                                                       << "cheer"
                                                       << ">";
    }
    void labels()
    {
        QFETCH(QString, path);
        QFETCH(QString, label);
        QFETCH(QString, caption);
        // On every pad at once, so a path that yields no label cannot stop the refresh.
        m_module.padPaths.fill(path);
        for (int i = 0; i < kPadCount; ++i) {
            m_main->labels[i]->setText(QStringLiteral("stale"));
            m_main->buttons[i]->setText(QStringLiteral("?"));
        }
        refreshPads(m_module, *m_main);
        for (int i : {0, 1, 26, 53}) {
            QCOMPARE(m_main->Label1(i)->text(), label);
            QCOMPARE(m_main->wave(i)->text(), caption);
        }
        QCOMPARE(ruleBroken(m_module, *m_main), QString());
    }

    void saveThenLoad()
    {
        m_module.padPaths[0] = QStringLiteral("C:\\Sounds\\Door Bell.wav");
        m_module.padPaths[2] = QStringLiteral("/snd/a, \"b\".wav");
        MessageCatcher messages;
        savePreset(m_module, *m_main, QStringLiteral("Party"));
        QCOMPARE(readBytes(m_dir->filePath("Party.pst")),
                 QByteArray("C:\\Sounds\\Door Bell.wav\r\n\r\n/snd/a, \"b\".wav\r\n") + crlfs(51));
        // A save that succeeds touches no control.
        QCOMPARE(m_main->Label1(0)->text(), QString());

        const Module1 saved = m_module;
        m_module.padPaths.fill(QStringLiteral("/other.wav"));
        loadPreset(m_module, *m_main, QStringLiteral("Party"));
        QCOMPARE(m_module.padPaths, saved.padPaths);
        QCOMPARE(m_main->Label1(0)->text(), QStringLiteral("Door Bell"));
        QCOMPARE(ruleBroken(m_module, *m_main), QString());
        QCOMPARE(messages.texts, QStringList());
    }

    void emptyName()
    {
        m_module.padPaths[5] = QStringLiteral("/five.wav");
        MessageCatcher messages;
        savePreset(m_module, *m_main, QString());
        QVERIFY(QFile::exists(m_dir->filePath(".pst")));
        m_module.padPaths[5].clear();
        loadPreset(m_module, *m_main, QString());
        QCOMPARE(m_module.padPaths[5], QStringLiteral("/five.wav"));
        QCOMPARE(messages.texts, QStringList());
    }

    // A load: the message if it fails, then the board as far as it was read, or the board
    // as it was when there was no file to read.
    void load_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no file at all
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("assigned"); // pads 0..assigned-1 hold /p<i>.wav; -1: kept
        QByteArray sixty;
        for (int i = 0; i < 60; ++i)
            sixty += "/p" + QByteArray::number(i) + ".wav\r\n";
        const QByteArray ten = sixty.left(sixty.indexOf("/p10"));
        QTest::newRow("60 lines: no message") << sixty << QStringList() << 54;
        QTest::newRow("no such name: board kept")
            << QByteArray() << QStringList{"File Error#53"} << -1;
        QTest::newRow("empty file: board emptied")
            << QByteArray("") << QStringList{"File Error#62"} << 0;
        QTest::newRow("10 lines") << ten << QStringList{"File Error#62"} << 10;
        QTest::newRow("binary after line 3")
            << QByteArray("/p0.wav\r\n/p1.wav\r\n/p2.wav\r\nRIFF\0\0", 32)
            << QStringList{"File Error#54"} << 3;
    }
    void load()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, messages);
        QFETCH(int, assigned);
        if (!bytes.isNull())
            QVERIFY(writeBytes(m_dir->filePath("Gig.pst"), bytes));
        // A full board beforehand: none of it may survive a file that was opened.
        m_module.padPaths.fill(QStringLiteral("/before.wav"));
        refreshPads(m_module, *m_main);

        MessageCatcher catcher;
        loadPreset(m_module, *m_main, QStringLiteral("Gig"));
        QCOMPARE(catcher.texts, messages);
        QCOMPARE(catcher.malformed, QStringList());
        for (int i = 0; i < kPadCount; ++i) {
            const QString expected = assigned < 0   ? QStringLiteral("/before.wav")
                                     : i < assigned ? QStringLiteral("/p%1.wav").arg(i)
                                                    : QString();
            QCOMPARE(m_module.padPaths[i], expected);
        }
        QCOMPARE(ruleBroken(m_module, *m_main), QString());
    }

    // A failed save reports, refreshes the pads over the unchanged board, and keeps the file.
    void failedSave()
    {
        const QByteArray old = "/old.wav\r\n" + crlfs(53);
        QVERIFY(writeBytes(m_dir->filePath("Old.pst"), old));
        QVERIFY(
            QFile::setPermissions(m_dir->filePath("Old.pst"), QFile::ReadOwner | QFile::ReadOther));
        m_module.padPaths[3] = QStringLiteral("/three.wav");
        m_main->labels[7]->setText(QStringLiteral("stale"));

        MessageCatcher messages;
        savePreset(m_module, *m_main, QStringLiteral("Old"));
        QCOMPARE(messages.texts, QStringList{"File Error#75"});
        QCOMPARE(messages.malformed, QStringList());
        QCOMPARE(m_module.padPaths[3], QStringLiteral("/three.wav"));
        QCOMPARE(ruleBroken(m_module, *m_main), QString());
        QCOMPARE(readBytes(m_dir->filePath("Old.pst")), old);
    }

    // The refresh lets timers run, only before assigned pads and before setting them.
    void refreshYields_data()
    {
        QTest::addColumn<QList<int>>("assigned");
        QTest::newRow("empty board: no yield") << QList<int>();
        QTest::newRow("pads 0 and 2") << QList<int>{0, 2};
        QTest::newRow("pad 53") << QList<int>{53};
    }
    void refreshYields()
    {
        QFETCH(QList<int>, assigned);
        for (int i : assigned)
            m_module.padPaths[i] = QStringLiteral("/p%1.wav").arg(i);
        QStringList seen; // what the first assigned pad showed at each tick
        QTimer tick;
        tick.setInterval(0);
        connect(&tick, &QTimer::timeout, this, [&] {
            seen << (assigned.isEmpty() ? QString() : m_main->Label1(assigned.first())->text());
        });
        tick.start();
        refreshPads(m_module, *m_main);
        tick.stop();
        if (assigned.isEmpty()) {
            QCOMPARE(seen.size(), 0);
        } else {
            QVERIFY(seen.size() >= 1);
            QVERIFY(seen.size() <= assigned.size());
            QCOMPARE(seen.first(), QString()); // the yield comes before the pad is set
        }
        QCOMPARE(ruleBroken(m_module, *m_main), QString());
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    Module1 m_module;
    std::unique_ptr<FakeMainWindow> m_main;
};

QTEST_MAIN(TestPresets)
#include "tst_presets.moc"
