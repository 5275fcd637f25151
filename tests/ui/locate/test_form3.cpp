#include "app/picturebutton.h"
#include "platform/pathcodec.h"
#include "platform/volumes.h"
#include "support/fakemainwindow.h"
#include "ui/locate/dirlistbox.h"
#include "ui/locate/drivelistbox.h"
#include "ui/locate/filelistbox.h"
#include "ui/locate/form3.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <memory>

using namespace bellboard;

namespace {

// Creates a file whose name is given as raw bytes, so names that are not UTF-8 can be made.
void touch(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, path.constData());
    ::close(fd);
}

void touch(const QString &path)
{
    touch(platform::encodePath(path));
}

// Answers every message box that opens while it lives, noting what it showed.
class MessageWatcher final
{
public:
    struct Seen
    {
        QString text;
        QString title;
        QMessageBox::Icon icon;
        int buttons;
    };

    MessageWatcher()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen.append({box->text(), box->windowTitle(), box->icon(), int(box->buttons().size())});
            box->button(QMessageBox::Ok)->click();
        });
        m_timer.start();
    }

    QList<Seen> seen;

private:
    QTimer m_timer;
};

// Takes the capabilities that let root read any folder out of this thread's effective set,
// so that chmod 000 stops root too; threads started afterwards inherit the reduced set.
class DacCapabilitiesDropped final
{
public:
    DacCapabilitiesDropped()
    {
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        m_header.pid = 0;
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_dropped = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~DacCapabilitiesDropped()
    {
        if (m_dropped)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    Q_DISABLE_COPY_MOVE(DacCapabilitiesDropped)

private:
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
    bool m_dropped = false;
};

struct Dialog
{
    explicit Dialog(Module1 &module, test::FakeMainWindow &main)
        : form(std::make_unique<Form3>(module, main))
    {
        form->setWindowTitle(QStringLiteral("Locate .wav Files"));
        drive1 = form->findChild<DriveListBox *>(QStringLiteral("Drive1"));
        dir1 = form->findChild<DirListBox *>(QStringLiteral("Dir1"));
        file1 = form->findChild<FileListBox *>(QStringLiteral("File1"));
        select = form->findChild<PictureButton *>(QStringLiteral("Command2"));
        cancel = form->findChild<PictureButton *>(QStringLiteral("Command1"));
    }

    bool open()
    {
        form->show();
        return settle();
    }

    // Waits until both lists hold everything of the folder they show.
    bool settle()
    {
        return QTest::qWaitFor([this] { return !file1->loading() && !dir1->loading(); }, 5000);
    }

    bool selectFile(const QString &name)
    {
        const int row = int(file1->names().indexOf(name));
        if (row < 0)
            return false;
        file1->setCurrentIndex(file1->model()->index(row, 0));
        return file1->fileName() == name;
    }

    void doubleClickFile(const QString &name)
    {
        const int row = int(file1->names().indexOf(name));
        const QModelIndex index = file1->model()->index(row, 0);
        file1->scrollTo(index);
        const QPoint at = file1->visualRect(index).center();
        QTest::mouseClick(file1->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(file1->viewport(), Qt::LeftButton, {}, at);
    }

    // Double-clicks the folder list's row for `path`, as the user opens a folder.
    bool openFolder(const QString &path)
    {
        QTreeWidgetItem *found = nullptr;
        for (QTreeWidgetItemIterator it(dir1); *it; ++it) {
            if ((*it)->data(0, DirListBox::PathRole).toString() == path)
                found = *it;
        }
        if (!found)
            return false;
        dir1->scrollToItem(found);
        const QPoint at = dir1->visualItemRect(found).center();
        QTest::mouseClick(dir1->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(dir1->viewport(), Qt::LeftButton, {}, at);
        return settle();
    }

    std::unique_ptr<Form3> form;
    DriveListBox *drive1 = nullptr;
    DirListBox *dir1 = nullptr;
    FileListBox *file1 = nullptr;
    PictureButton *select = nullptr;
    PictureButton *cancel = nullptr;
};

bool allPadsUnassigned(const Module1 &module, const test::FakeMainWindow &main)
{
    for (int i = 0; i < kPadCount; ++i) {
        if (!module.padPaths[i].isEmpty() || !main.labels[i]->text().isEmpty()
            || main.buttons[i]->text() != QStringLiteral("..."))
            return false;
    }
    return true;
}

} // namespace

class TestForm3 final : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        platform::setVolumesOverride({});
        platform::forgetCurrentFolders();
        m_tree = std::make_unique<QTemporaryDir>(); // a fresh tree for every test row
        QVERIFY(m_tree->isValid());
        m_folder = platform::normalFolder(m_tree->path());
        QVERIFY(QDir(m_folder).mkpath(QStringLiteral("fx/deeper")));
        m_fx = m_folder + QStringLiteral("/fx");
    }

    void cleanup()
    {
        platform::setVolumesOverride({});
        QDir::setCurrent(m_startDir);
        m_tree.reset();
    }

    void layout_data();
    void layout();
    void lookAndFocus();
    void assign_data();
    void assign();
    void assignInsideExec();
    void listing();
    void namesArriveInBatches();
    void nothingSelected_data();
    void nothingSelected();
    void closeChangesNothing_data();
    void closeChangesNothing();
    void idxReadAtAssignment_data();
    void idxReadAtAssignment();
    void rootGetsTwoSeparators();
    void driveListShowsCurrentVolume();
    void driveChange();
    void missingRememberedFolder_data();
    void missingRememberedFolder();
    void unreadableFolder();
    void deepWalk();

private:
    std::unique_ptr<QTemporaryDir> m_tree;
    QString m_folder;
    QString m_fx;
    QString m_startDir = QDir::currentPath();
};

void TestForm3::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    // Twips over 15, from the design table.
    QTest::newRow("Label2") << "Label2" << QRect(9, 16, 105, 17);
    QTest::newRow("Drive1") << "Drive1" << QRect(9, 32, 105, 21);
    QTest::newRow("Label3") << "Label3" << QRect(9, 58, 113, 17);
    QTest::newRow("Dir1") << "Dir1" << QRect(9, 74, 113, 126);
    QTest::newRow("Label1") << "Label1" << QRect(126, 58, 121, 17);
    QTest::newRow("File1") << "File1" << QRect(126, 74, 121, 123);
    QTest::newRow("Command2") << "Command2" << QRect(56, 217, 65, 19);
    QTest::newRow("Command1") << "Command1" << QRect(126, 217, 65, 19);
}

void TestForm3::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    Module1 module;
    test::FakeMainWindow main;
    Form3 form(module, main);
    auto *w = form.findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(w->geometry(), geometry);
    QCOMPARE(form.size(), QSize(251, 251));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QCOMPARE(form.pos(), QPoint(228, 135));
}

void TestForm3::lookAndFocus()
{
    Module1 module;
    test::FakeMainWindow main;
    Dialog d(module, main);
    QCOMPARE(d.form->windowTitle(), QStringLiteral("Locate .wav Files"));
    const Qt::WindowFlags flags = d.form->windowFlags();
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(flags & Qt::WindowContextHelpButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);

    // The look comes from the main window at load.
    QCOMPARE(d.form->palette().brush(QPalette::Window).texture().cacheKey(),
             main.background.cacheKey());
    QCOMPARE(d.select->picture().cacheKey(), main.face.cacheKey());
    QCOMPARE(d.cancel->picture().cacheKey(), main.face.cacheKey());
    QCOMPARE(d.select->text(), QStringLiteral("&Select"));
    QCOMPARE(d.cancel->text(), QStringLiteral("&Cancel"));
    QVERIFY(!d.select->autoDefault() && !d.select->isDefault());
    QVERIFY(!d.cancel->autoDefault() && !d.cancel->isDefault());
    for (const auto &[name, text] :
         {std::pair{"Label1", "Filename:"}, std::pair{"Label2", "Drive:"},
          std::pair{"Label3", "Directory:"}}) {
        auto *label = d.form->findChild<QLabel *>(QString::fromLatin1(name));
        QVERIFY(label);
        QCOMPARE(label->text(), QString::fromLatin1(text));
        QCOMPARE(label->frameShape(), QFrame::Box);
    }

    QVERIFY(d.open());
    QVERIFY(QTest::qWaitForWindowActive(d.form.get()));
    QCOMPARE(QApplication::focusWidget(), d.file1);

    // Tab order: File1, Drive1, Command1, Dir1, Command2, and round again.
    const QList<QWidget *> order = {d.drive1, d.cancel, d.dir1, d.select, d.file1};
    for (QWidget *expected : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), expected);
    }

    // No cancel button: Esc leaves the dialog open.
    QTest::keyClick(d.file1, Qt::Key_Escape);
    QVERIFY(d.form->isVisible());
    QCOMPARE(d.form->result(), int(QDialog::Rejected));
}

void TestForm3::assign_data()
{
    QTest::addColumn<QByteArray>("name"); // raw bytes, as on disk
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("pad");
    QTest::addColumn<bool>("doubleClick");

    QTest::newRow("kick.wav by Select") << QByteArray("kick.wav") << "kick" << 7 << false;
    QTest::newRow("sound.WAV by double-click") << QByteArray("sound.WAV") << "sound" << 7 << true;
    QTest::newRow("blanks, mixed case") << QByteArray("door bell.Wav") << "door bell" << 0 << false;
    // By the preset rule: the label is what follows the last "\", in a file name too.
    QTest::newRow("a name holding a backslash")
        << QByteArray("crowd\\cheer.wav") << "cheer" << 9 << false;
    QTest::newRow("name not UTF-8")
        << QByteArray("caf\xe9.wav") << QStringLiteral("caf") + QChar(0xDCE9) << 12 << true;
}

void TestForm3::assign()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, label);
    QFETCH(int, pad);
    QFETCH(bool, doubleClick);

    const QByteArray onDisk = platform::encodePath(m_fx) + '/' + name;
    touch(onDisk);
    // QTemporaryDir cannot remove a name that is not UTF-8.
    const auto removeFile = qScopeGuard([&] { ::unlink(onDisk.constData()); });
    touch(m_fx + QStringLiteral("/other.wav"));
    Module1 module;
    module.lastWavFolder = m_fx;
    module.padPaths[pad == 0 ? 1 : 0] = QStringLiteral("/kept.wav");
    test::FakeMainWindow main;
    main.idx = qint16(pad);
    Dialog d(module, main);
    QVERIFY(d.open());
    QCOMPARE(d.dir1->path(), m_fx);

    const QString decoded = platform::decodePath(name);
    QVERIFY(d.selectFile(decoded));
    if (doubleClick)
        d.doubleClickFile(decoded);
    else
        QTest::mouseClick(d.select, Qt::LeftButton);

    QCOMPARE(d.form->result(), int(QDialog::Accepted));
    QVERIFY(!d.form->isVisible());
    QCOMPARE(module.padPaths[pad], m_fx + QLatin1Char('/') + decoded);
    QCOMPARE(platform::encodePath(module.padPaths[pad]), platform::encodePath(m_fx) + '/' + name);
    QCOMPARE(main.labels[pad]->text(), label);
    QCOMPARE(main.buttons[pad]->text(), QStringLiteral(">"));
    QCOMPARE(module.lastWavFolder, m_fx);
    // The same label as a preset load would give for this path.
    QCOMPARE(main.labels[pad]->text(), padLabel(module.padPaths[pad]));
    QCOMPARE(module.padPaths[pad == 0 ? 1 : 0], QStringLiteral("/kept.wav"));
    for (int i = 0; i < kPadCount; ++i) {
        if (i != pad)
            QCOMPARE(main.buttons[i]->text(), QStringLiteral("..."));
    }
}

void TestForm3::assignInsideExec()
{
    // As the main window does it: caption, then a modal exec that the dialog ends itself.
    touch(m_fx + QStringLiteral("/kick.wav"));
    Module1 module;
    module.lastWavFolder = m_fx;
    test::FakeMainWindow main;
    main.idx = 4;
    Dialog d(module, main);
    QTimer::singleShot(0, d.form.get(), [&] {
        if (d.settle() && d.selectFile(QStringLiteral("kick.wav")))
            d.select->click();
        else
            d.form->reject();
    });
    QCOMPARE(d.form->exec(), int(QDialog::Accepted));
    QCOMPARE(module.padPaths[4], m_fx + QStringLiteral("/kick.wav"));
}

void TestForm3::listing()
{
    for (const char *n :
         {"b.wav", "A.WAV", "c.Wav", ".hidden.wav", "d.wave", "e.wav.txt", "wav", "f.mp3"})
        touch(m_fx + QLatin1Char('/') + QLatin1String(n));
    QVERIFY(QDir(m_fx).mkdir(QStringLiteral("Sub.wav")));
    QVERIFY(QDir(m_fx).mkdir(QStringLiteral("alpha")));
    QVERIFY(QDir(m_fx).mkdir(QStringLiteral(".hidden")));
    QVERIFY(QFile::link(m_fx + QStringLiteral("/b.wav"), m_fx + QStringLiteral("/link.wav")));
    QVERIFY(QFile::link(m_fx + QStringLiteral("/alpha"), m_fx + QStringLiteral("/beta")));
    QVERIFY(QFile::link(m_fx + QStringLiteral("/missing"), m_fx + QStringLiteral("/dangling.wav")));

    Module1 module;
    module.lastWavFolder = m_fx;
    test::FakeMainWindow main;
    Dialog d(module, main);
    QVERIFY(d.open());

    // Hidden names are left out, as in the desktop's file choosers.
    QCOMPARE(d.file1->names(), QStringList({"A.WAV", "b.wav", "c.Wav", "link.wav"}));
    QVERIFY(d.file1->message().isEmpty());

    // The folder list: root first, each ancestor one level in, then the open folder's
    // subfolders (links to folders included), sorted.
    QTreeWidgetItem *top = d.dir1->topLevelItem(0);
    QCOMPARE(d.dir1->topLevelItemCount(), 1);
    QCOMPARE(top->text(0), QStringLiteral("/"));
    QTreeWidgetItem *open = top;
    QStringList chain;
    while (open->childCount() > 0 && open->data(0, DirListBox::PathRole).toString() != m_fx) {
        open = open->child(0);
        chain << open->text(0);
    }
    QCOMPARE(chain.join(QLatin1Char('/')), m_fx.mid(1));
    QCOMPARE(d.dir1->currentItem(), open);
    QStringList subfolders;
    for (int i = 0; i < open->childCount(); ++i)
        subfolders << open->child(i)->text(0);
    QCOMPARE(subfolders, QStringList({"alpha", "beta", "deeper", "Sub.wav"}));

    // Opening a subfolder moves both lists, and the file list follows every change.
    QSignalSpy changed(d.dir1, &DirListBox::changed);
    QVERIFY(d.openFolder(m_fx + QStringLiteral("/deeper")));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(d.dir1->path(), m_fx + QStringLiteral("/deeper"));
    QCOMPARE(d.file1->path(), d.dir1->path());
    QVERIFY(d.file1->names().isEmpty());
    QVERIFY(d.openFolder(m_fx));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(d.file1->names().size(), 4);
    // Opening the folder already open raises nothing.
    QVERIFY(d.openFolder(m_fx));
    QCOMPARE(changed.count(), 2);
}

void TestForm3::namesArriveInBatches()
{
    const int count = 2 * platform::FolderLister::kBatchSize + 17;
    QStringList expected;
    for (int i = 0; i < count; ++i) {
        const QString name
            = QStringLiteral("%1%2.wav").arg(i % 2 ? "S" : "s").arg(i, 5, 10, QLatin1Char('0'));
        touch(m_fx + QLatin1Char('/') + name);
        expected << name;
    }
    std::sort(expected.begin(), expected.end(), [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    Module1 module;
    module.lastWavFolder = m_fx;
    test::FakeMainWindow main;
    Dialog d(module, main);
    QSignalSpy inserted(d.file1->model(), &QAbstractItemModel::rowsInserted);
    QVERIFY(d.open());
    QCOMPARE(inserted.count(), 3);
    QCOMPARE(d.file1->names(), expected);
}

void TestForm3::nothingSelected_data()
{
    QTest::addColumn<bool>("withFiles");
    QTest::addColumn<bool>("doubleClick");
    QTest::newRow("Select, files listed, none selected") << true << false;
    QTest::newRow("double-click in an empty list") << false << true;
    QTest::newRow("Select in an empty list") << false << false;
}

void TestForm3::nothingSelected()
{
    QFETCH(bool, withFiles);
    QFETCH(bool, doubleClick);
    if (withFiles)
        touch(m_fx + QStringLiteral("/kick.wav"));
    Module1 module;
    module.lastWavFolder = m_fx;
    test::FakeMainWindow main;
    main.idx = 3;
    Dialog d(module, main);
    QVERIFY(d.open());
    QCOMPARE(d.file1->names().size(), withFiles ? 1 : 0);
    QVERIFY(d.file1->fileName().isEmpty());
    if (doubleClick)
        QTest::mouseDClick(d.file1->viewport(), Qt::LeftButton, {}, QPoint(20, 60));
    else
        QTest::mouseClick(d.select, Qt::LeftButton);
    QVERIFY(d.form->isVisible());
    QVERIFY(allPadsUnassigned(module, main));
    QCOMPARE(module.lastWavFolder, m_fx);
}

void TestForm3::closeChangesNothing_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Cancel") << false;
    QTest::newRow("close box") << true;
}

void TestForm3::closeChangesNothing()
{
    QFETCH(bool, closeBox);
    touch(m_fx + QStringLiteral("/deeper/x.wav"));
    Module1 module;
    module.lastWavFolder = m_fx;
    test::FakeMainWindow main;
    main.idx = 9;
    {
        Dialog d(module, main);
        QVERIFY(d.open());
        QVERIFY(d.openFolder(m_fx + QStringLiteral("/deeper")));
        QVERIFY(d.selectFile(QStringLiteral("x.wav")));
        if (closeBox)
            QVERIFY(d.form->close());
        else
            QTest::mouseClick(d.cancel, Qt::LeftButton);
        QVERIFY(!d.form->isVisible());
        QCOMPARE(d.form->result(), int(QDialog::Rejected));
    }
    QVERIFY(allPadsUnassigned(module, main));
    QCOMPARE(module.lastWavFolder, m_fx);

    // The next opening starts in the remembered folder, not the one browsed to.
    Dialog again(module, main);
    QVERIFY(again.open());
    QCOMPARE(again.dir1->path(), m_fx);
    QCOMPARE(again.file1->path(), m_fx);
}

void TestForm3::idxReadAtAssignment_data()
{
    QTest::addColumn<int>("atOpen");
    QTest::addColumn<int>("atSelect");
    QTest::newRow("unchanged") << 5 << 5;
    QTest::newRow("changed while open") << 5 << 40;
    QTest::newRow("past the last pad") << 5 << kPadCount;
    QTest::newRow("negative") << 5 << -1;
}

void TestForm3::idxReadAtAssignment()
{
    QFETCH(int, atOpen);
    QFETCH(int, atSelect);
    touch(m_fx + QStringLiteral("/kick.wav"));
    Module1 module;
    module.lastWavFolder = m_fx;
    test::FakeMainWindow main;
    main.idx = qint16(atOpen);
    Dialog d(module, main);
    QVERIFY(d.open());
    main.idx = qint16(atSelect);
    QVERIFY(d.selectFile(QStringLiteral("kick.wav")));
    QTest::mouseClick(d.select, Qt::LeftButton);
    for (int i = 0; i < kPadCount; ++i) {
        const bool filled = i == atSelect;
        QCOMPARE(module.padPaths[i].isEmpty(), !filled);
        QCOMPARE(main.labels[i]->text(), filled ? QStringLiteral("kick") : QString());
    }
    if (atSelect < 0 || atSelect >= kPadCount)
        QCOMPARE(module.lastWavFolder, m_fx); // no pad to fill: nothing was assigned
}

void TestForm3::rootGetsTwoSeparators()
{
    const QString name
        = QStringLiteral("bellboard-locate-%1.wav").arg(QCoreApplication::applicationPid());
    const QString atRoot = QStringLiteral("/") + name;
    const int fd = ::open(atRoot.toUtf8().constData(), O_CREAT | O_WRONLY | O_EXCL, 0644);
    if (fd < 0)
        QSKIP("the root folder is not writable here");
    ::close(fd);
    const auto removeFile = qScopeGuard([&] { QFile::remove(atRoot); });

    Module1 module;
    module.lastWavFolder = m_fx;
    test::FakeMainWindow main;
    main.idx = 2;
    Dialog d(module, main);
    QVERIFY(d.open());
    QVERIFY(d.openFolder(QStringLiteral("/"))); // the root row at the top of the folder list
    QCOMPARE(d.dir1->path(), QStringLiteral("/"));
    QVERIFY(d.selectFile(name));
    QTest::mouseClick(d.select, Qt::LeftButton);
    QCOMPARE(module.padPaths[2], QStringLiteral("//") + name);
    QCOMPARE(module.lastWavFolder, QStringLiteral("/"));
    QCOMPARE(main.labels[2]->text(), name.chopped(4));
}

void TestForm3::driveListShowsCurrentVolume()
{
    // The machine's own volumes: the drive list shows the one holding the current folder.
    QVERIFY(QDir::setCurrent(m_fx));
    Module1 module;
    test::FakeMainWindow main;
    Dialog d(module, main);
    QVERIFY(d.open());
    QCOMPARE(d.drive1->drive(), platform::volumeRootOf(m_fx));
    QCOMPARE(d.dir1->path(), m_fx); // nothing remembered: the process's current folder
    QVERIFY(d.drive1->count() >= 1);
}

void TestForm3::driveChange()
{
    // Three made-up volumes in the temporary tree; B has no medium.
    QDir root(m_folder);
    for (const char *p : {"A/start", "B", "C/sub", "C/old"})
        QVERIFY(root.mkpath(QLatin1String(p)));
    touch(m_folder + QStringLiteral("/A/start/a.wav"));
    touch(m_folder + QStringLiteral("/C/c.wav"));
    touch(m_folder + QStringLiteral("/C/sub/s.wav"));
    const QString a = m_folder + QStringLiteral("/A/");
    const QString b = m_folder + QStringLiteral("/B/");
    const QString c = m_folder + QStringLiteral("/C/");
    platform::setVolumesOverride(
        {{a, QStringLiteral("ALPHA"), true}, {b, {}, false}, {c, {}, true}});
    QVERIFY(QDir::setCurrent(a + QStringLiteral("start")));

    Module1 module;
    module.lastWavFolder = c + QStringLiteral("old"); // on another volume than the current folder
    test::FakeMainWindow main;
    Dialog d(module, main);
    QVERIFY(d.open());
    // The load step moves the folder list, but leaves the drive list on the current volume.
    QCOMPARE(d.drive1->drive(), a);
    QCOMPARE(d.drive1->currentText(), a + QStringLiteral(" [ALPHA]"));
    QCOMPARE(d.dir1->path(), c + QStringLiteral("old"));

    MessageWatcher messages;
    // A volume that cannot be read: one message, and the lists keep what they showed.
    d.drive1->setCurrentIndex(d.drive1->findData(b));
    QCOMPARE(messages.seen.size(), 1);
    QCOMPARE(messages.seen[0].text, QStringLiteral("Drive not operaitonal"));
    QCOMPARE(messages.seen[0].title, QStringLiteral("bellboard"));
    QCOMPARE(messages.seen[0].icon, QMessageBox::NoIcon);
    QCOMPARE(messages.seen[0].buttons, 1);
    QCOMPARE(d.drive1->drive(), b);
    QCOMPARE(d.dir1->path(), c + QStringLiteral("old"));
    QCOMPARE(d.file1->path(), c + QStringLiteral("old"));
    QVERIFY(d.form->isVisible());

    // Choosing it again is no change at all.
    d.drive1->setCurrentIndex(d.drive1->findData(b));
    QTest::qWait(50);
    QCOMPARE(messages.seen.size(), 1);

    // A volume shown before in this run opens where it was last shown...
    d.drive1->setCurrentIndex(d.drive1->findData(a));
    QVERIFY(d.settle());
    QCOMPARE(d.dir1->path(), a + QStringLiteral("start"));
    QCOMPARE(d.file1->names(), QStringList{QStringLiteral("a.wav")});
    d.drive1->setCurrentIndex(d.drive1->findData(c));
    QVERIFY(d.settle());
    QCOMPARE(d.dir1->path(), c + QStringLiteral("old"));
    QVERIFY(d.openFolder(c.chopped(1)));
    QVERIFY(d.openFolder(c + QStringLiteral("sub")));
    d.drive1->setCurrentIndex(d.drive1->findData(a));
    d.drive1->setCurrentIndex(d.drive1->findData(c));
    QVERIFY(d.settle());
    QCOMPARE(d.dir1->path(), c + QStringLiteral("sub"));
    QCOMPARE(d.file1->names(), QStringList{QStringLiteral("s.wav")});
    QCOMPARE(messages.seen.size(), 1);

    // ...and one not shown yet opens at its root.
    platform::forgetCurrentFolders();
    d.drive1->setCurrentIndex(d.drive1->findData(a));
    d.drive1->setCurrentIndex(d.drive1->findData(c));
    QVERIFY(d.settle());
    QCOMPARE(d.dir1->path(), c.chopped(1));
    QCOMPARE(d.file1->names(), QStringList{QStringLiteral("c.wav")});
}

void TestForm3::missingRememberedFolder_data()
{
    QTest::addColumn<QString>("remembered"); // under the tree
    QTest::addColumn<QString>("opens");
    QTest::newRow("deleted folder") << "fx/gone"
                                    << "fx";
    QTest::newRow("deleted two levels") << "fx/gone/deeper"
                                        << "fx";
    QTest::newRow("a file, not a folder") << "fx/kick.wav"
                                          << "fx";
    QTest::newRow("still there") << "fx/deeper"
                                 << "fx/deeper";
}

void TestForm3::missingRememberedFolder()
{
    QFETCH(QString, remembered);
    QFETCH(QString, opens);
    touch(m_fx + QStringLiteral("/kick.wav"));
    Module1 module;
    module.lastWavFolder = m_folder + QLatin1Char('/') + remembered;
    test::FakeMainWindow main;
    Dialog d(module, main);
    QVERIFY(d.open());
    QCOMPARE(d.dir1->path(), m_folder + QLatin1Char('/') + opens);
    QCOMPARE(d.file1->path(), d.dir1->path());
    QCOMPARE(module.lastWavFolder, m_folder + QLatin1Char('/') + remembered); // not rewritten
}

void TestForm3::unreadableFolder()
{
    const QString locked = m_fx + QStringLiteral("/locked");
    QVERIFY(QDir(m_fx).mkdir(QStringLiteral("locked")));
    touch(locked + QStringLiteral("/inside.wav"));
    touch(m_fx + QStringLiteral("/kick.wav"));
    QVERIFY(::chmod(platform::encodePath(locked).constData(), 0) == 0);
    const auto unlock
        = qScopeGuard([&] { ::chmod(platform::encodePath(locked).constData(), 0755); });
    // Root reads any folder; without these capabilities chmod 000 binds it as well.
    DacCapabilitiesDropped dropped;
    if (DIR *probe = ::opendir(platform::encodePath(locked).constData())) {
        ::closedir(probe);
        QSKIP("this process can read a folder with no permissions at all");
    }

    Module1 module;
    module.lastWavFolder = m_fx;
    test::FakeMainWindow main;
    main.idx = 1;
    Dialog d(module, main);
    QVERIFY(d.open());
    QVERIFY(d.openFolder(locked));
    QCOMPARE(d.dir1->path(), locked);
    QVERIFY(d.file1->names().isEmpty());
    QVERIFY2(d.file1->message().startsWith(QStringLiteral("This folder cannot be read")),
             qPrintable(d.file1->message()));
    QTest::mouseClick(d.select, Qt::LeftButton);
    QVERIFY(d.form->isVisible());
    QVERIFY(allPadsUnassigned(module, main));

    // Still usable: back up one level and assign from there.
    QVERIFY(d.openFolder(m_fx));
    QVERIFY(d.file1->message().isEmpty());
    QVERIFY(d.selectFile(QStringLiteral("kick.wav")));
    QTest::mouseClick(d.select, Qt::LeftButton);
    QCOMPARE(module.padPaths[1], m_fx + QStringLiteral("/kick.wav"));
}

void TestForm3::deepWalk()
{
    // Deep enough that the rows are indented far past the list's width.
    QStringList chain{m_fx};
    for (int i = 0; i < 15; ++i)
        chain << chain.last() + QStringLiteral("/level%1").arg(i);
    QVERIFY(QDir().mkpath(chain.last()));
    Module1 module;
    module.lastWavFolder = chain[1];
    test::FakeMainWindow main;
    Dialog d(module, main);
    QVERIFY(d.open());
    // Down to the deepest folder, then back up to fx.
    const QStringList walk = chain.mid(2) + QStringList(chain.crbegin() + 1, chain.crend());
    for (int step = 0; step < walk.size(); ++step) {
        QTest::keyClick(d.dir1, step < chain.size() - 2 ? Qt::Key_Down : Qt::Key_Up);
        QTest::keyClick(d.dir1, Qt::Key_Enter);
        QVERIFY(d.settle());
        QCOMPARE(d.dir1->path(), walk[step]);
        // The open folder keeps the highlight, in sight.
        QTreeWidgetItem *current = d.dir1->currentItem();
        QVERIFY(current && current->isSelected());
        QCOMPARE(current->data(0, DirListBox::PathRole).toString(), walk[step]);
        QVERIFY(d.dir1->viewport()->rect().contains(d.dir1->visualItemRect(current).topLeft()));
    }
}

QTEST_MAIN(TestForm3)
#include "test_form3.moc"
