#include "app/heldkeys.h"
#include "app/picturebutton.h"
#include "platform/pathcodec.h"
#include "platform/programinfo.h"
#include "presets/form4.h"
#include "presets/presets.h"
#include "support/files.h"
#include "support/focusmark.h"
#include "support/messages.h"
#include "support/modal.h"
#include "support/xsession.h"
#include "ui/locate/filelistbox.h"
#include "ui/main/form1.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <array>
#include <csignal>

#include <sys/prctl.h>

using namespace bellboard;

namespace {

struct PlayCall
{
    QByteArray name;
    void *module;
    quint32 flags;
};

// A board whose sound service and program starter only record what they are asked.
struct Board
{
    Board()
    {
        module.PlaySoundA = [this](const char *name, void *mod, std::uint32_t flags) {
            plays.push_back({QByteArray(name), mod, flags});
            sounds << QStringLiteral("played ") + QString::fromLocal8Bit(name);
            return std::int32_t(1);
        };
        module.warmUpSound = [this] { sounds << QStringLiteral("woke"); };
        module.startProgram = [this](const QString &name) {
            started << name;
            return startFailure;
        };
        pressHeldKeysOnce(); // as the program does at start-up
        form = std::make_unique<Form1>(module);
    }

    void assign(int i, const QString &path)
    {
        module.padPaths[i] = path;
        form->Label1(i)->setText(padLabel(path));
        form->wave(i)->setText(QStringLiteral(">"));
    }

    Module1 module;
    std::vector<PlayCall> plays;
    QStringList sounds; // plays and wake-ups, in order
    QStringList started;
    QString startFailure;
    std::unique_ptr<Form1> form;
};

QString blanks(int n)
{
    return QString(n, QLatin1Char(' '));
}

// Selects `name` in an open locate dialog's file list once the list has read its folder.
bool pickFile(QWidget *locate, const QString &name)
{
    auto *files = locate->findChild<FileListBox *>(QStringLiteral("File1"));
    if (!files || !QTest::qWaitFor([&] { return !files->loading(); }, 5000))
        return false;
    files->setCurrentIndex(files->model()->index(int(files->names().indexOf(name)), 0));
    return files->fileName() == name;
}

// What a screen reader calls a control.
QString spokenName(QWidget *w)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

// Runs the current row again on `desktop`, a private window system, as a child told so by
// BELLBOARD_TEST_UNDER; under X beside two busy processes, as a desktop under load sends a
// held key. True when it passed; `output` is what it printed, or why the desktop did not
// start.
bool passesOn(test::Desktop &desktop, const char *under, QString &output)
{
    if (!desktop.start()) {
        output = desktop.why();
        return false;
    }
    std::array<QProcess, 2> busy;
    for (QProcess &p : busy) {
        if (qstrcmp(under, "X") != 0)
            break;
        p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }); // should we die
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(QStringLiteral("yes"), {});
    }
    QProcessEnvironment env = desktop.environment();
    env.insert(QStringLiteral("BELLBOARD_TEST_UNDER"), QLatin1String(under));
    QProcess row;
    row.setProcessEnvironment(env);
    row.setProcessChannelMode(QProcess::MergedChannels);
    row.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("%1:%2").arg(QTest::currentTestFunction(), QTest::currentDataTag())});
    const bool finished = row.waitForFinished(60000);
    output = QString::fromLocal8Bit(row.readAll());
    for (QProcess &p : busy) {
        p.kill();
        p.waitForFinished();
    }
    return finished && row.exitStatus() == QProcess::NormalExit && row.exitCode() == 0;
}

} // namespace

class TestForm1 final : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { platform::setProgramFolderOverride(QString()); }

    void startsWithAnEmptyBoard()
    {
        Board b;
        Form1 &f = *b.form;
        QCOMPARE(f.windowTitle(), QStringLiteral("Bellboard 1.2.6"));
        QCOMPARE(f.Idx(), qint16(0));
        QCOMPARE(b.module.presetName, QStringLiteral("Untitled"));
        QCOMPARE(b.module.lastWavFolder, QString());
        QCOMPARE(b.module.marqueeText, QStringLiteral("Bellboard 1.2.6") + blanks(16));
        QCOMPARE(b.module.marqueePos, qint16(1));
        QCOMPARE(b.module.marqueeStage, qint16(1));
        QCOMPARE(f.Display()->text(), QString());
        for (int i = 0; i < kPadCount; ++i) {
            QCOMPARE(f.wave(i)->text(), QStringLiteral("..."));
            QCOMPARE(f.Label1(i)->text(), QString());
            QCOMPARE(b.module.padPaths[i], QString());
        }
        QVERIFY(f.Timer1()->isActive());
        QCOMPARE(f.Timer1()->interval(), 340);
        QCOMPARE(f.findChildren<QPushButton *>(QStringLiteral("wave")).size(), kPadCount);
        QCOMPARE(f.findChildren<QLabel *>(QStringLiteral("Label1")).size(), kPadCount);
    }

    void windowIsFixedWithoutMaximise()
    {
        Board b;
        QCOMPARE(b.form->minimumSize(), QSize(654, 442));
        QCOMPARE(b.form->maximumSize(), QSize(654, 442));
        const Qt::WindowFlags flags = b.form->windowFlags();
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    }

    void padCells_data()
    {
        QTest::addColumn<int>("pad");
        QTest::addColumn<QRect>("button");
        QTest::addColumn<QRect>("label");
        QTest::newRow("pad 0, top left") << 0 << QRect(7, 14, 20, 18) << QRect(35, 14, 176, 18);
        QTest::newRow("pad 1") << 1 << QRect(7, 35, 20, 18) << QRect(35, 35, 176, 18);
        QTest::newRow("pad 17, bottom left")
            << 17 << QRect(7, 371, 20, 18) << QRect(35, 371, 176, 18);
        QTest::newRow("pad 18, top middle")
            << 18 << QRect(224, 14, 20, 18) << QRect(252, 14, 176, 18);
        QTest::newRow("pad 35, bottom middle")
            << 35 << QRect(224, 371, 20, 18) << QRect(252, 371, 176, 18);
        QTest::newRow("pad 36, bottom right")
            << 36 << QRect(441, 371, 20, 18) << QRect(469, 371, 176, 18);
        QTest::newRow("pad 40") << 40 << QRect(441, 287, 20, 18) << QRect(469, 287, 176, 18);
        QTest::newRow("pad 53, top right")
            << 53 << QRect(441, 14, 20, 18) << QRect(469, 14, 176, 18);
    }

    void padCells()
    {
        QFETCH(int, pad);
        QFETCH(QRect, button);
        QFETCH(QRect, label);
        Board b;
        QCOMPARE(b.form->wave(pad)->geometry(), button);
        QCOMPARE(b.form->Label1(pad)->geometry(), label);
        QCOMPARE(b.form->wave(pad)->property("index").toInt(), pad);
        QCOMPARE(b.form->Label1(pad)->alignment(), Qt::AlignCenter);
        QCOMPARE(b.form->Label1(pad)->frameShape(), QFrame::Box);
        QCOMPARE(b.form->Label1(pad)->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(b.form->Label1(pad)->focusPolicy(), Qt::NoFocus);
    }

    void padsStayInsideTheWindowAndApart()
    {
        Board b;
        QRegion used;
        for (int i = 0; i < kPadCount; ++i) {
            for (QWidget *w : {static_cast<QWidget *>(b.form->wave(i)),
                               static_cast<QWidget *>(b.form->Label1(i))}) {
                QVERIFY2(b.form->rect().contains(w->geometry()), qPrintable(QString::number(i)));
                QVERIFY2(!used.intersects(w->geometry()), qPrintable(QString::number(i)));
                QVERIFY(w->geometry().bottom() < 413);
                used += w->geometry();
            }
        }
    }

    void toolRow_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QKeySequence>("shortcut");
        QTest::newRow("Clear all") << "Command19" << QRect(7, 413, 73, 21) << "&Clear all"
                                   << "" << QKeySequence("Alt+C");
        QTest::newRow("Load preset") << "Command2" << QRect(91, 413, 73, 21) << "&Load preset"
                                     << "" << QKeySequence("Alt+L");
        QTest::newRow("Save preset") << "Command1" << QRect(175, 413, 73, 21) << "&Save preset"
                                     << "" << QKeySequence("Alt+S");
        QTest::newRow("About") << "Command21" << QRect(259, 413, 73, 21) << " &About "
                               << "" << QKeySequence("Alt+A");
        QTest::newRow("Stop") << "Command3" << QRect(567, 413, 22, 22) << ""
                              << "Stop" << QKeySequence();
        QTest::newRow("Record") << "Command4" << QRect(595, 413, 22, 22) << ""
                                << "Record" << QKeySequence();
        QTest::newRow("Volume") << "Command6" << QRect(623, 413, 22, 22) << ""
                                << "" << QKeySequence();
    }

    void toolRow()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        QFETCH(QString, toolTip);
        QFETCH(QKeySequence, shortcut);
        Board b;
        auto *button = b.form->findChild<PictureButton *>(name);
        QVERIFY(button);
        QCOMPARE(button->geometry(), geometry);
        QCOMPARE(button->text(), caption);
        QCOMPARE(button->toolTip(), toolTip);
        QCOMPARE(button->shortcut(), shortcut);
        QVERIFY(!button->picture().isNull());
    }

    void pictures_data()
    {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("depth");
        QTest::newRow("background") << ":/pictures/background.bmp" << QSize(672, 462) << 8;
        QTest::newRow("button face") << ":/pictures/face.bmp" << QSize(137, 49) << 24;
        QTest::newRow("volume") << ":/pictures/volume.bmp" << QSize(24, 22) << 4;
    }

    // The bitmap header records the colour depth the picture was made with.
    void pictures()
    {
        QFETCH(QString, resource);
        QFETCH(QSize, size);
        QFETCH(int, depth);
        QFile file(resource);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray header = file.read(30);
        QCOMPARE(header.left(2), QByteArray("BM"));
        const auto le32
            = [&](int at) { return qFromLittleEndian<qint32>(header.constData() + at); };
        QCOMPARE(QSize(le32(18), std::abs(le32(22))), size);
        QCOMPARE(int(qFromLittleEndian<quint16>(header.constData() + 28)), depth);
    }

    // Above 100 % the pictures drawn at twice the size take the same logical room, and the
    // Stop square's edges stay as narrow, in device pixels, as at 100 %.
    void picturesStaySharp_data()
    {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("Stop at 200 %") << ":/pictures/stop.ico" << 2.0;
        QTest::newRow("background at 200 %") << ":/pictures/background.bmp" << 2.0;
        QTest::newRow("button face at 125 %") << ":/pictures/face.bmp" << 1.25;
    }

    void picturesStaySharp()
    {
        QFETCH(QString, resource);
        QFETCH(qreal, ratio);
        const QPixmap once = loadPicture(resource, 1);
        const QPixmap scaled = loadPicture(resource, ratio);
        QCOMPARE(scaled.deviceIndependentSize(), QSizeF(once.size()));
        QCOMPARE(scaled.devicePixelRatio(), 2.0);
        if (!resource.contains(QLatin1String("stop")))
            return;
        // Pixels across the middle row that are neither the face nor the white square.
        const auto edges = [](const QPixmap &picture, qreal r) {
            PictureButton b;
            b.resize(22, 22);
            b.setPicture(picture);
            QImage shot(QSize(22, 22) * r, QImage::Format_RGB32);
            shot.setDevicePixelRatio(r);
            b.render(&shot);
            int n = 0;
            for (int x = shot.width() / 4; x < shot.width() * 3 / 4; ++x) {
                const int grey = qGray(shot.pixel(x, shot.height() / 2));
                n += grey > 140 && grey < 220;
            }
            return n;
        };
        QVERIFY2(edges(scaled, ratio) <= edges(once, 1),
                 qPrintable(QStringLiteral("%1 edge pixels, %2 at 100 %, %3 from the 1x picture")
                                .arg(edges(scaled, ratio))
                                .arg(edges(once, 1))
                                .arg(edges(once, ratio))));
    }

    void display()
    {
        Board b;
        QLabel *d = b.form->Display();
        QCOMPARE(d->geometry(), QRect(350, 413, 197, 21));
        QCOMPARE(d->palette().color(QPalette::Window), QColor(Qt::black));
        QCOMPARE(d->palette().color(QPalette::WindowText), QColor(255, 255, 0));
        QVERIFY(d->font().bold());
        QCOMPARE(d->font().pointSizeF(), 9.75);
        QVERIFY(d->alignment() & Qt::AlignRight);
        QCOMPARE(d->frameShape(), QFrame::Box);
    }

    void tabOrder_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::newRow("down the left column") << "wave 0"
                                              << "wave 1";
        QTest::newRow("left to middle") << "wave 17"
                                        << "wave 18";
        QTest::newRow("middle to the right column's top") << "wave 35"
                                                          << "wave 53";
        QTest::newRow("up the right column") << "wave 53"
                                             << "wave 52";
        QTest::newRow("right column's bottom to Clear all") << "wave 36"
                                                            << "Command19";
        QTest::newRow("Clear all to Load") << "Command19"
                                           << "Command2";
        QTest::newRow("Load to Save") << "Command2"
                                      << "Command1";
        QTest::newRow("Save to About") << "Command1"
                                       << "Command21";
        QTest::newRow("About to Stop, past the marquee") << "Command21"
                                                         << "Command3";
        QTest::newRow("Stop to Record") << "Command3"
                                        << "Command4";
        QTest::newRow("Record to volume") << "Command4"
                                          << "Command6";
    }

    void tabOrder()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        Board b;
        b.form->show();
        b.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(b.form.get()));
        auto widget = [&](const QString &n) -> QWidget * {
            if (n.startsWith(QLatin1String("wave ")))
                return b.form->wave(n.mid(5).toInt());
            return b.form->findChild<QWidget *>(n);
        };
        widget(from)->setFocus();
        QCOMPARE(QApplication::focusWidget(), widget(from));
        QTest::keyClick(widget(from), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), widget(to));
    }

    void focusStartsOnTheFirstPad()
    {
        Board b;
        b.form->show();
        b.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(b.form.get()));
        QCOMPARE(QApplication::focusWidget(), b.form->wave(0));
    }

    void altCClearsTheBoard()
    {
        Board b;
        b.assign(3, QStringLiteral("/snd/kick.wav"));
        b.form->show();
        b.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(b.form.get()));
        QTest::keyClick(b.form.get(), Qt::Key_C, Qt::AltModifier);
        QTRY_COMPARE(b.module.padPaths[3], QString()); // an access key clicks a moment later
        QCOMPARE(b.form->Label1(3)->text(), QString());
    }

    // One whole cycle of the marquee, tick by tick.
    void marqueeCycle()
    {
        Board b;
        b.form->Timer1()->stop();
        QStringList shown;
        for (int t = 0; t < 33 + 29 + 48 + 1; ++t) {
            b.form->marqueeTick();
            shown << b.form->Display()->text();
        }
        const QString caption = QStringLiteral("Bellboard 1.2.6") + blanks(18);
        const QString credit = QStringLiteral("By Corvilane") + blanks(17);
        const QString preset = QStringLiteral("Preset is: Untitled") + blanks(29);
        QCOMPARE(preset.size(), 48);

        QCOMPARE(shown[0], QStringLiteral("Be"));
        QCOMPARE(shown[31], caption);   // whole on its last full tick
        QCOMPARE(shown[32], QString()); // the caption's 33 ticks end empty
        QCOMPARE(shown[33], QStringLiteral("By"));
        QCOMPARE(shown[33 + 27], credit); // shown whole on its last full tick
        QCOMPARE(shown[33 + 28], QString());
        QCOMPARE(shown[62], QStringLiteral("Pr"));
        QCOMPARE(shown[62 + 46], preset);
        QCOMPARE(shown[62 + 47], QString());        // 48 ticks, the last one empty
        QCOMPARE(shown[110], QStringLiteral("Be")); // and round again at once
        for (int t = 0; t < 33; ++t)
            QVERIFY(caption.startsWith(shown[t]));
        QCOMPARE(b.module.marqueeStage, qint16(1));
        QCOMPARE(b.module.marqueePos, qint16(2));
    }

    void marqueeRestoresAnEmptyPresetName()
    {
        Board b;
        b.form->Timer1()->stop();
        for (int t = 0; t < 62; ++t)
            b.form->marqueeTick();
        QCOMPARE(b.module.marqueeStage, qint16(3));
        b.module.presetName.clear();
        b.form->marqueeTick();
        QCOMPARE(b.module.presetName, QStringLiteral("Untitled"));
        QCOMPARE(b.module.marqueeText, QStringLiteral("Preset is: Untitled") + blanks(29));
        QCOMPARE(b.module.marqueeStage, qint16(0));
    }

    void presetNameChangeShowsInTheNextCycle()
    {
        Board b;
        b.form->Timer1()->stop();
        for (int t = 0; t < 63; ++t)
            b.form->marqueeTick();
        b.module.presetName = QStringLiteral("Party");
        QString last;
        for (int t = 0; t < 46; ++t) {
            b.form->marqueeTick();
            last = b.form->Display()->text();
        }
        QCOMPARE(last, QStringLiteral("Preset is: Untitled") + blanks(29));
        for (int t = 0; t < 1 + 33 + 29 + 20; ++t)
            b.form->marqueeTick();
        QCOMPARE(b.form->Display()->text(), QStringLiteral("Preset is: Party") + blanks(5));
    }

    void clearingLeavesTheMarqueeAlone()
    {
        Board b;
        b.form->Timer1()->stop();
        for (int t = 0; t < 7; ++t)
            b.form->marqueeTick();
        const auto pos = b.module.marqueePos;
        const auto stage = b.module.marqueeStage;
        b.form->clearAll();
        b.form->clearPad();
        QCOMPARE(b.module.marqueePos, pos);
        QCOMPARE(b.module.marqueeStage, stage);
    }

    void clickingAnAssignedPadPlaysIt()
    {
        Board b;
        b.form->show();
        b.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(b.form.get()));
        // A byte that is not UTF-8 reaches the sound service unchanged.
        const QByteArray raw("/snd/caf\xe9 bell.wav");
        b.assign(20, platform::decodePath(raw));
        // The press wakes the sound output; the release plays.
        QTest::mousePress(b.form->wave(20), Qt::LeftButton);
        QCOMPARE(b.sounds, QStringList{QStringLiteral("woke")});
        QTest::mouseRelease(b.form->wave(20), Qt::LeftButton);
        QCOMPARE(b.plays.size(), size_t(1));
        QCOMPARE(b.plays[0].name, raw);
        QCOMPARE(b.plays[0].module, nullptr);
        QCOMPARE(b.plays[0].flags, quint32(platform::SND_ASYNC));
        QCOMPARE(b.form->Idx(), qint16(20));
        QCOMPARE(QApplication::focusWidget(),
                 b.form->findChild<QWidget *>(QStringLiteral("Command3")));
        QCOMPARE(b.form->Label1(20)->text(),
                 QStringLiteral("caf") + QChar(0xDCE9) + QStringLiteral(" bell"));
        QCOMPARE(b.form->wave(20)->text(), QStringLiteral(">"));
    }

    void keyboardActivationPlaysToo()
    {
        Board b;
        b.assign(2, QStringLiteral("/snd/a.wav"));
        b.form->padClick(2);
        b.form->padClick(2);
        QCOMPARE(b.plays.size(), size_t(2));
    }

    // The label decides, not the path: a file named ".wav" leaves the pad unassigned.
    void emptyLabelOpensTheLocateDialog_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("never assigned") << QString();
        QTest::newRow("a file named .wav") << QStringLiteral("/snd/.wav");
    }

    void emptyLabelOpensTheLocateDialog()
    {
        QFETCH(QString, path);
        Board b;
        b.module.padPaths[9] = path;
        QString title;
        qint16 idxWhileOpen = -1;
        test::whenModal([&](QWidget *w) {
            title = w->windowTitle();
            idxWhileOpen = b.form->Idx();
            w->close();
        });
        b.form->padClick(9);
        QCOMPARE(title, QStringLiteral("Locate .wav Files"));
        QCOMPARE(idxWhileOpen, qint16(9));
        QVERIFY(b.plays.empty());
        QCOMPARE(b.module.padPaths[9], path);
    }

    void rightPressThenDismiss()
    {
        Board b;
        b.assign(5, QStringLiteral("/snd/five.wav"));
        QString menuItem;
        test::whenModal(
            [&](QWidget *menu) {
                menuItem = static_cast<QMenu *>(menu)->actions().value(0)->text();
                menu->close();
            },
            true);
        QTest::mousePress(b.form->wave(5), Qt::RightButton);
        QCOMPARE(menuItem, QStringLiteral("Clear .Wav"));
        QCOMPARE(b.form->Idx(), qint16(5));
        QCOMPARE(b.module.padPaths[5], QStringLiteral("/snd/five.wav"));
        QCOMPARE(b.form->Label1(5)->text(), QStringLiteral("five"));
        QVERIFY(b.plays.empty());
    }

    void rightPressThenClearWav()
    {
        Board b;
        b.assign(5, QStringLiteral("/snd/five.wav"));
        b.assign(6, QStringLiteral("/snd/six.wav"));
        b.module.lastWavFolder = QStringLiteral("/snd");
        test::whenModal(
            [&](QWidget *menu) {
                menu->close();
                b.form->clearMenu()->actions().value(0)->trigger();
            },
            true);
        QTest::mousePress(b.form->wave(5), Qt::RightButton);
        QCOMPARE(b.module.padPaths[5], QString());
        QCOMPARE(b.form->Label1(5)->text(), QString());
        QCOMPARE(b.form->wave(5)->text(), QStringLiteral("..."));
        QCOMPARE(b.module.padPaths[6], QStringLiteral("/snd/six.wav"));
        QCOMPARE(b.module.presetName, QStringLiteral("Untitled"));
        QCOMPARE(b.module.lastWavFolder, QStringLiteral("/snd"));
        QCOMPARE(b.form->Idx(), qint16(5));
    }

    void otherButtonsDoNotOpenTheMenu()
    {
        Board b;
        b.form->padMouseDown(4, Qt::MiddleButton);
        b.form->padMouseDown(4, Qt::LeftButton);
        QCOMPARE(b.form->Idx(), qint16(0));
    }

    void clearAllOnAFullBoard()
    {
        Board b;
        for (int i = 0; i < kPadCount; ++i)
            b.assign(i, QStringLiteral("/snd/pad%1.wav").arg(i));
        b.module.presetName = QStringLiteral("Party");
        b.module.lastWavFolder = QStringLiteral("/snd");
        b.form->padClick(7);
        QTest::mouseClick(b.form->findChild<QPushButton *>(QStringLiteral("Command19")),
                          Qt::LeftButton);
        for (int i = 0; i < kPadCount; ++i) {
            QCOMPARE(b.module.padPaths[i], QString());
            QCOMPARE(b.form->Label1(i)->text(), QString());
            QCOMPARE(b.form->wave(i)->text(), QStringLiteral("..."));
        }
        QCOMPARE(b.module.presetName, QStringLiteral("Party"));
        QCOMPARE(b.module.lastWavFolder, QStringLiteral("/snd"));
        QCOMPARE(b.form->Idx(), qint16(7));
        QCOMPARE(b.plays.size(), size_t(1)); // the click on pad 7; clearing stops nothing
    }

    void stopPlaysStopWavBesideTheProgram_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("played");
        QTest::newRow("a folder") << "/opt/bellboard" << QByteArray("/opt/bellboard/stop.wav");
        QTest::newRow("the root: two separators") << "/" << QByteArray("//stop.wav");
        QTest::newRow("a trailing separator is kept")
            << "/opt/bb/" << QByteArray("/opt/bb//stop.wav");
    }

    void stopPlaysStopWavBesideTheProgram()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, played);
        Board b;
        platform::setProgramFolderOverride(folder);
        QTest::mouseClick(b.form->findChild<QPushButton *>(QStringLiteral("Command3")),
                          Qt::LeftButton);
        QCOMPARE(b.plays.size(), size_t(1));
        QCOMPARE(b.plays[0].name, played);
        QCOMPARE(b.plays[0].flags, quint32(platform::SND_ASYNC));
        QCOMPARE(b.module.presetName, QStringLiteral("Untitled"));
    }

    void recordAndVolumeStartTheirPrograms()
    {
        Board b;
        auto *record = b.form->findChild<QPushButton *>(QStringLiteral("Command4"));
        auto *volume = b.form->findChild<QPushButton *>(QStringLiteral("Command6"));
        QTest::mouseClick(record, Qt::LeftButton);
        QTest::mouseClick(record, Qt::LeftButton);
        QTest::mouseClick(volume, Qt::LeftButton);
        QCOMPARE(b.started, QStringList({"sndrec32.exe", "sndrec32.exe", "sndvol32.exe"}));
    }

    void aFailedStartIsReportedOnce()
    {
        Board b;
        b.startFailure = QStringLiteral("Could not start the volume control (sndvol32.exe).");
        QStringList boxes;
        test::whenModal([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (box)
                boxes << box->windowTitle() + QLatin1Char('|') + box->text();
            w->close();
        });
        b.form->volumeClick();
        QCOMPARE(boxes, QStringList({"bellboard|" + b.startFailure}));
        QVERIFY(b.form->Timer1()->isActive());
    }

    void presetButtonsFillTheDialog_data()
    {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("presetName");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("presetNameAfterCancel");
        QTest::newRow("save right after start") << true << "Untitled"
                                                << "Save Preset"
                                                << "&Save"
                                                << "Untitled"
                                                << "Untitled";
        QTest::newRow("save with a name") << true << "Party"
                                          << "Save Preset"
                                          << "&Save"
                                          << "Party"
                                          << "Party";
        QTest::newRow("save with an empty name") << true << ""
                                                 << "Save Preset"
                                                 << "&Save"
                                                 << "Untitled"
                                                 << "Untitled";
        QTest::newRow("load") << false << "Party"
                              << "Load Preset"
                              << "&Load"
                              << ""
                              << "";
    }

    void presetButtonsFillTheDialog()
    {
        QFETCH(bool, save);
        QFETCH(QString, presetName);
        QFETCH(QString, title);
        QFETCH(QString, action);
        QFETCH(QString, field);
        QFETCH(QString, presetNameAfterCancel);
        QTemporaryDir dir;
        platform::setProgramFolderOverride(dir.path());
        Board b;
        b.form->Timer1()->stop();
        b.module.presetName = presetName;
        QString seen;
        test::whenModal([&](QWidget *w) {
            auto *dlg = qobject_cast<Form4 *>(w);
            if (dlg)
                seen = dlg->modeLabel->text() + '|' + dlg->actionButton->text() + '|'
                       + dlg->nameField->text() + '|' + b.module.presetName;
            w->close();
        });
        if (save)
            b.form->savePresetClick();
        else
            b.form->loadPresetClick();
        QCOMPARE(seen, title + '|' + action + '|' + field + '|' + field);
        QCOMPARE(b.module.presetName, presetNameAfterCancel);
        QCOMPARE(b.module.marqueePos, qint16(1));
        QCOMPARE(b.module.marqueeStage, qint16(1));
    }

    // Enter (either key) and Space press the focused button in the main window and in the
    // locate dialog, once however long the key is held. Enter presses nothing when no button
    // has the focus, and Esc never does: neither window has a default or a cancel button. The
    // Menu key and Shift+F10 open a pad's menu under it. Each row says what the press did, and
    // every button shows plainly that it has the focus.
    void keysPressTheFocusedButton_data()
    {
        QTest::addColumn<QString>("control"); // "Form3 ...": in the locate dialog for pad 0
        QTest::addColumn<int>("key");         // with its modifiers
        QTest::addColumn<int>("repeats");     // auto-repeats of a held key
        QTest::addColumn<QString>("effect");
        const std::pair<const char *, const char *> presses[] = {
            {"wave 0", "opened Form3"},
            {"wave 53", "woke; played /snd/bell.wav; focus Command3"},
            {"Command19", "pad 53 cleared"},
            {"Command2", "opened Form4 Load Preset"},
            {"Command1", "opened Form4 Save Preset"},
            {"Command21", "opened Form2"},
            {"Command3", "woke; played <folder>/stop.wav"},
            {"Command4", "started sndrec32.exe"},
            {"Command6", "started sndvol32.exe"},
            {"Form3 Command2", "pad 0: kick; closed"},
            {"Form3 Command1", "closed"},
        };
        for (const auto &[control, effect] : presses) {
            for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
                QTest::addRow("%s, %s", control, qPrintable(QKeySequence(key).toString()))
                    << control << key << 0 << effect;
        }
        QTest::newRow("Form3 File1, Return") << "Form3 File1" << int(Qt::Key_Return) << 0 << "";
        QTest::newRow("Form3 Command1, Esc") << "Form3 Command1" << int(Qt::Key_Escape) << 0 << "";
        QTest::newRow("wave 0, Esc") << "wave 0" << int(Qt::Key_Escape) << 0 << "";
        QTest::newRow("wave 53, Return held") << "wave 53" << int(Qt::Key_Return) << 3
                                              << "woke; played /snd/bell.wav; focus Command3";
        QTest::newRow("wave 53, Menu")
            << "wave 53" << int(Qt::Key_Menu) << 0 << "menu under the pad; pad 53 cleared";
        QTest::newRow("wave 53, Shift+F10")
            << "wave 53" << (Qt::Key_F10 | Qt::ShiftModifier).toCombined() << 0
            << "menu under the pad; pad 53 cleared";
        // "X ...": held 1.2 s five times in a real X server beside two busy processes, where a
        // repeat is a release and a press, and the press may come in a later read.
        // "W ...": held 1.2 s twice on a Wayland compositor, where Qt repeats a held key itself
        // and flags the repeats, and the X rule must stay out of the way.
        for (int key : {Qt::Key_Return, Qt::Key_Space}) {
            QTest::addRow("X wave 53, %s held", qPrintable(QKeySequence(key).toString()))
                << "X wave 53" << key << 0
                << QStringLiteral("woke; played /snd/bell.wav; ").repeated(5) + "focus Command3";
            QTest::addRow("W wave 53, %s held", qPrintable(QKeySequence(key).toString()))
                << "W wave 53" << key << 0
                << QStringLiteral("woke; played /snd/bell.wav; ").repeated(2) + "focus Command3";
        }
    }

    void keysPressTheFocusedButton()
    {
        QFETCH(QString, control);
        QFETCH(int, key);
        QFETCH(int, repeats);
        QFETCH(QString, effect);
        const bool underX = control.startsWith(QLatin1String("X "));
        const bool onWayland = control.startsWith(QLatin1String("W "));
        if ((underX || onWayland) && !qEnvironmentVariableIsSet("BELLBOARD_TEST_UNDER")) {
            const QString artifacts = QStringLiteral(BELLBOARD_BINARY_DIR "/held-key-artifacts");
            std::unique_ptr<test::Desktop> desktop;
            if (underX)
                desktop = std::make_unique<test::XSession>(artifacts);
            else
                desktop = std::make_unique<test::WaylandSession>(artifacts + "-wayland");
            QString output;
            const bool passed = passesOn(*desktop, underX ? "X" : "W", output);
            if (onWayland && desktop->why() == output && !output.isEmpty())
                QSKIP(qPrintable(output));
            QVERIFY2(passed, qPrintable(output));
            return;
        }
        const QKeyCombination combination = QKeyCombination::fromCombined(key);
        const Qt::KeyboardModifiers modifiers
            = combination.keyboardModifiers()
              | (combination.key() == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QTemporaryDir dir;
        QVERIFY(test::writeBytes(dir.filePath(QStringLiteral("kick.wav")), QByteArray()));
        platform::setProgramFolderOverride(dir.path());
        Board b;
        b.form->Timer1()->stop();
        b.module.lastWavFolder = dir.path();
        b.assign(53, QStringLiteral("/snd/bell.wav"));
        b.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(b.form.get()));
        b.form->activateWindow(); // with no window manager, Qt gives it the X focus itself
        // Waited for by hand: Qt on Wayland cannot tell that it may wait for the compositor's
        // focus, which comes when the window is first shown.
        QVERIFY(QTest::qWaitFor([&] { return b.form->isActiveWindow(); }));

        const bool inLocate = control.startsWith(QLatin1String("Form3 "));
        const QString name = inLocate              ? control.mid(6)
                             : underX || onWayland ? control.mid(2)
                                                   : control;
        QWidget *pressed = nullptr;
        QString unmarked;
        const auto press = [&](QWidget *window) {
            pressed = name.startsWith(QLatin1String("wave ")) ? b.form->wave(name.mid(5).toInt())
                                                              : window->findChild<QWidget *>(name);
            if (qobject_cast<QAbstractButton *>(pressed))
                unmarked = test::unmarkedSide(pressed);
            const QString xKey = combination.key() == Qt::Key_Space ? "space" : "Return";
            for (int hold = 0; underX && hold < 5; ++hold) {
                pressed->setFocus();
                QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {"keydown", xKey}), 0);
                QTest::qWait(1200);
                QCOMPARE(int(b.plays.size()), hold + (xKey == "Return")); // Space on release
                QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {"keyup", xKey}), 0);
                QTest::qWait(200); // the pad must still be playing then
            }
            // wtype holds it down, and lets it up after 1.2 s.
            for (int hold = 0; onWayland && hold < 2; ++hold) {
                pressed->setFocus();
                QProcess wtype;
                wtype.start(QStringLiteral("wtype"), {"-P", xKey, "-s", "1200", "-p", xKey});
                QVERIFY(
                    QTest::qWaitFor([&] { return wtype.state() == QProcess::NotRunning; }, 10000));
                QTest::qWait(200); // the release reaches the window
                QCOMPARE(int(b.plays.size()), hold + 1);
            }
            if (underX || onWayland)
                return;
            pressed->setFocus();
            QCOMPARE(QApplication::focusWidget(), pressed);
            QTest::keyClick(QApplication::focusWidget(), combination.key(), modifiers);
            // A held key repeats on whatever has the focus by then.
            for (int r = 0; r < repeats; ++r) {
                QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget()
                                                             : b.form->focusWidget();
                QKeyEvent repeat(QEvent::KeyPress, combination.key(), modifiers, QString(), true);
                QApplication::sendEvent(focus, &repeat);
            }
        };
        QStringList did;
        if (combination.key() == Qt::Key_Menu || combination.key() == Qt::Key_F10)
            test::whenModal(
                [&](QWidget *menu) {
                    const QWidget *pad = b.form->wave(53);
                    if (menu->pos() == pad->mapToGlobal(QPoint(0, pad->height())))
                        did << QStringLiteral("menu under the pad");
                    QTest::keyClick(menu, Qt::Key_Down);
                    QTest::keyClick(menu, Qt::Key_Return);
                },
                true);
        bool closedByKey = false;
        test::EachModal dialogs([&](QWidget *w) {
            if (!inLocate) {
                auto *presets = qobject_cast<Form4 *>(w);
                did << QStringLiteral("opened ") + w->objectName()
                           + (presets ? QLatin1Char(' ') + presets->modeLabel->text() : QString());
            } else if (QTest::qWaitForWindowActive(w) && pickFile(w, QStringLiteral("kick.wav"))) {
                press(w);
                closedByKey = !w->isVisible();
            }
            w->close();
        });
        if (inLocate)
            b.form->padClick(0);
        else
            press(b.form.get());
        QVERIFY(pressed);

        if (!b.module.padPaths[0].isEmpty())
            did << QStringLiteral("pad 0: ") + b.form->Label1(0)->text();
        if (b.module.padPaths[53].isEmpty())
            did << QStringLiteral("pad 53 cleared");
        did << b.sounds;
        for (const QString &program : b.started)
            did << QStringLiteral("started ") + program;
        if (closedByKey)
            did << QStringLiteral("closed");
        QWidget *focus = QApplication::focusWidget();
        if (focus && focus != pressed && focus->window() == b.form.get())
            did << QStringLiteral("focus ") + focus->objectName();
        QCOMPARE(did.join(QLatin1String("; ")),
                 effect.replace(QLatin1String("<folder>"), dir.path()));
        QVERIFY2(unmarked.isEmpty(), qPrintable("no focus mark on the " + unmarked + " side"));
    }

    // A screen reader names a pad by its place in the reading order, which Tab follows, and by
    // what it plays; the name follows every change of the pad.
    void padsTellScreenReadersWhatTheyPlay_data()
    {
        QTest::addColumn<int>("pad");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("locate dialog") << 11 << "locate"
                                       << "Pad 12, empty"
                                       << "Pad 12: applause";
        QTest::newRow("Clear all, top of the right column") << 53 << "Clear all"
                                                            << "Pad 37: applause"
                                                            << "Pad 37, empty";
        QTest::newRow("preset load, bottom of the right column") << 36 << "full"
                                                                 << "Pad 54, empty"
                                                                 << "Pad 54: applause";
        QTest::newRow("preset load that empties the pad") << 0 << "empty"
                                                          << "Pad 1: applause"
                                                          << "Pad 1, empty";
    }

    void padsTellScreenReadersWhatTheyPlay()
    {
        QFETCH(int, pad);
        QFETCH(QString, change);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QTemporaryDir dir;
        platform::setProgramFolderOverride(dir.path());
        const QString applause = dir.filePath(QStringLiteral("applause.wav"));
        QVERIFY(test::writeBytes(applause, QByteArray()));
        QVERIFY(test::writeBytes(dir.filePath(QStringLiteral("full.pst")),
                                 test::crlfs(pad) + platform::encodePath(applause)
                                     + test::crlfs(kPadCount - pad)));
        QVERIFY(
            test::writeBytes(dir.filePath(QStringLiteral("empty.pst")), test::crlfs(kPadCount)));
        test::MessageCatcher messages;
        Board b;
        b.form->Timer1()->stop();
        b.module.lastWavFolder = dir.path();
        if (before.contains(QLatin1Char(':')))
            loadPreset(b.module, *b.form, QStringLiteral("full"));
        QCOMPARE(spokenName(b.form->wave(pad)), before);
        QCOMPARE(spokenName(b.form->Label1(pad)), before);

        if (change == QLatin1String("locate")) {
            test::EachModal locate([&](QWidget *w) {
                if (pickFile(w, QStringLiteral("applause.wav")))
                    w->findChild<QPushButton *>(QStringLiteral("Command2"))->click();
                w->close();
            });
            b.form->padClick(pad);
        } else if (change == QLatin1String("Clear all")) {
            QTest::mouseClick(b.form->findChild<QPushButton *>(QStringLiteral("Command19")),
                              Qt::LeftButton);
        } else {
            loadPreset(b.module, *b.form, change);
        }
        QCOMPARE(spokenName(b.form->wave(pad)), after);
        QCOMPARE(spokenName(b.form->Label1(pad)), after);
        QCOMPARE(messages.texts, QStringList());
    }

    // The marquee changes three times a second. A screen reader speaks a label again when its
    // name changes, and a label without a name of its own is named by its text; so the
    // marquee's name stays put while its text runs. Its description is the whole message,
    // which changes only when the next message starts.
    void marqueeTicksAreNotAnnounced()
    {
        Board b;
        b.form->Timer1()->stop();
        b.module.presetName = QStringLiteral("Party");
        QStringList descriptions{b.form->Display()->accessibleDescription()};
        QSet<QString> texts;
        QSet<QString> names;
        for (int t = 0; t < 33 + 29 + 48 + 1; ++t) {
            b.form->marqueeTick();
            texts << b.form->Display()->text();
            names << spokenName(b.form->Display());
            if (descriptions.last() != b.form->Display()->accessibleDescription())
                descriptions << b.form->Display()->accessibleDescription();
        }
        QVERIFY(texts.size() > 100);
        QCOMPARE(names, QSet<QString>({QStringLiteral("Marquee")}));
        QCOMPARE(descriptions, QStringList({"Bellboard 1.2.6", "By Corvilane", "Preset is: Party",
                                            "Bellboard 1.2.6"}));
    }

    void aboutShowsTheCaption()
    {
        Board b;
        QString seen;
        test::whenModal([&](QWidget *w) {
            seen = w->windowTitle();
            w->close();
        });
        b.form->aboutClick();
        QCOMPARE(seen, QStringLiteral("Bellboard 1.2.6"));
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
