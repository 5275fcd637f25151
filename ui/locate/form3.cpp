#include "ui/locate/form3.h"

#include "app/dialogs.h"
#include "app/picturebutton.h"
#include "platform/programinfo.h"
#include "platform/volumes.h"
#include "ui/locate/dirlistbox.h"
#include "ui/locate/drivelistbox.h"
#include "ui/locate/filelistbox.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>

namespace bellboard {

namespace {

QLabel *boxLabel(const QString &text, const QString &name, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFrameStyle(QFrame::Box | QFrame::Plain);
    label->setLineWidth(1);
    // Labels are opaque in the button face colour, not see-through to the background.
    QPalette pal = label->palette();
    pal.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    label->setPalette(pal);
    label->setAutoFillBackground(true);
    return label;
}

void place(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(px(left), px(top), px(width), px(height));
}

} // namespace

Form3::Form3(Module1 &module, MainWindow &main)
    : m_module(module), m_main(main),
      m_label2(boxLabel(QStringLiteral("Drive:"), QStringLiteral("Label2"), this)),
      m_drive1(new DriveListBox(this)),
      m_label3(boxLabel(QStringLiteral("Directory:"), QStringLiteral("Label3"), this)),
      m_dir1(new DirListBox(this)),
      m_label1(boxLabel(QStringLiteral("Filename:"), QStringLiteral("Label1"), this)),
      m_file1(new FileListBox(QStringLiteral(".wav"), this)),
      m_command2(new PictureButton(QStringLiteral("&Select"), this)),
      m_command1(new PictureButton(QStringLiteral("&Cancel"), this))
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Locate .wav  files"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setSizeGripEnabled(false);
    setGeometry(px(3420), px(2025), px(3765), px(3765));
    setFixedSize(px(3765), px(3765));

    m_drive1->setObjectName(QStringLiteral("Drive1"));
    m_dir1->setObjectName(QStringLiteral("Dir1"));
    m_file1->setObjectName(QStringLiteral("File1"));
    m_command2->setObjectName(QStringLiteral("Command2"));
    m_command1->setObjectName(QStringLiteral("Command1"));

    place(m_label2, 135, 240, 1575, 255);
    place(m_drive1, 135, 480, 1575, 315);
    place(m_label3, 135, 870, 1695, 255);
    place(m_dir1, 135, 1110, 1695, 1890);
    place(m_label1, 1890, 870, 1815, 255);
    place(m_file1, 1890, 1110, 1815, 1845);
    place(m_command2, 840, 3255, 975, 285);
    place(m_command1, 1890, 3255, 975, 285);

    // Neither button is the default or the cancel button: Enter and Esc press nothing.
    m_command1->setAutoDefault(false);
    m_command2->setAutoDefault(false);

    setTabOrder(m_file1, m_drive1);
    setTabOrder(m_drive1, m_command1);
    setTabOrder(m_command1, m_dir1);
    setTabOrder(m_dir1, m_command2);

    // The controls start where the classic ones do: the process's current folder, and the
    // drive list on the volume that holds it.
    const QString start = platform::normalFolder(QDir::currentPath());
    m_drive1->setDrive(platform::volumeRootOf(start));
    m_dir1->setPath(start);
    m_file1->setPath(m_dir1->path());
    platform::setCurrentFolderOn(platform::volumeRootOf(start), m_dir1->path());

    connect(m_drive1, &QComboBox::currentIndexChanged, this, &Form3::driveChanged);
    connect(m_dir1, &DirListBox::changed, this, &Form3::folderChanged);
    connect(m_file1, &FileListBox::fileDoubleClicked, this, &Form3::assign);
    connect(m_command2, &QPushButton::clicked, this, &Form3::assign);
    connect(m_command1, &QPushButton::clicked, this, [this] {
        hide();
        reject();
    });

    load();
    m_file1->setFocus();
}

Form3::~Form3() = default;

void Form3::load()
{
    if (!m_module.lastWavFolder.isEmpty()) {
        // A remembered folder that has gone (deleted, or its volume removed) opens its
        // nearest existing ancestor; with none left the start folder stays.
        const QString folder = platform::nearestExistingFolder(m_module.lastWavFolder);
        if (!folder.isEmpty())
            m_dir1->setPath(folder);
    }
    setBackgroundPicture(this, m_main.backgroundPicture());
    m_command1->setPicture(m_main.clearAllPicture());
    m_command2->setPicture(m_main.clearAllPicture());
}

void Form3::driveChanged()
{
    const QString root = m_drive1->drive();
    bool ok = platform::volumeReady(root) && m_dir1->setPath(platform::currentFolderOn(root));
    if (ok)
        m_file1->setPath(m_dir1->path());
    else
        showMessage(QStringLiteral("Drive not operaitonal"));
}

void Form3::folderChanged()
{
    m_file1->setPath(m_dir1->path());
    platform::setCurrentFolderOn(platform::volumeRootOf(m_dir1->path()), m_dir1->path());
}

void Form3::assign()
{
    const QString name = m_file1->fileName();
    if (name.isEmpty())
        return;
    const int idx = m_main.Idx();
    if (idx < 0 || idx >= kPadCount)
        return; // no pad to fill; Idx always comes from a pad, so this does not happen
    m_main.Label1(idx)->setText(name.size() > 4 ? name.chopped(4) : QString());
    m_main.wave(idx)->setText(QStringLiteral(">"));
    // The separator is always added, so a file at a root gets two in a row ("//a.wav").
    m_module.padPaths[std::size_t(idx)] = m_dir1->path() + platform::pathSeparator() + name;
    m_module.lastWavFolder = m_dir1->path();
    accept();
}

void Form3::keyPressEvent(QKeyEvent *event)
{
    // No cancel button, so Esc does not close the dialog.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace bellboard
