#include "ui/locate/form3.h"

#include "app/dialogs.h"
#include "app/pads.h"
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
    : QDialog(main.boardWindow()), m_module(module), m_main(main),
      m_driveLabel(boxLabel(QStringLiteral("Drive:"), QStringLiteral("Label2"), this)),
      m_driveList(new DriveListBox(this)),
      m_folderLabel(boxLabel(QStringLiteral("Directory:"), QStringLiteral("Label3"), this)),
      m_folderList(new DirListBox(this)),
      m_fileLabel(boxLabel(QStringLiteral("Filename:"), QStringLiteral("Label1"), this)),
      m_fileList(new FileListBox(QStringLiteral(".wav"), this)),
      m_selectButton(new PictureButton(QStringLiteral("&Select"), this)),
      m_cancelButton(new PictureButton(QStringLiteral("&Cancel"), this))
{
    setObjectName(QStringLiteral("Form3"));
    setFont(windowFont());
    setWindowTitle(QStringLiteral("Locate .wav  files"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setSizeGripEnabled(false);
    setGeometry(px(3420), px(2025), px(3765), px(3765));
    setFixedSize(px(3765), px(3765));

    m_driveList->setObjectName(QStringLiteral("Drive1"));
    m_folderList->setObjectName(QStringLiteral("Dir1"));
    m_fileList->setObjectName(QStringLiteral("File1"));
    m_selectButton->setObjectName(QStringLiteral("Command2"));
    m_cancelButton->setObjectName(QStringLiteral("Command1"));

    place(m_driveLabel, 135, 240, 1575, 255);
    place(m_driveList, 135, 480, 1575, 315);
    place(m_folderLabel, 135, 870, 1695, 255);
    place(m_folderList, 135, 1110, 1695, 1890);
    place(m_fileLabel, 1890, 870, 1815, 255);
    place(m_fileList, 1890, 1110, 1815, 1845);
    place(m_selectButton, 840, 3255, 975, 285);
    place(m_cancelButton, 1890, 3255, 975, 285);

    // Neither button is the default or the cancel button: Enter presses only the focused
    // button, and Esc presses nothing.
    m_cancelButton->setAutoDefault(false);
    m_selectButton->setAutoDefault(false);

    setSpoken(m_driveList, QStringLiteral("Drive"), QStringLiteral("The drive to browse"));
    setSpoken(m_folderList, QStringLiteral("Directory"),
              QStringLiteral("Enter or a double-click opens a folder"));
    setSpoken(m_fileList, QStringLiteral("Filename"),
              QStringLiteral("The .wav files of the open folder; a double-click assigns one"));
    setSpoken(m_selectButton, withoutAccessKey(m_selectButton->text()),
              QStringLiteral("Assigns the selected file to the pad"));
    setSpoken(m_cancelButton, withoutAccessKey(m_cancelButton->text()),
              QStringLiteral("Closes without changing the pad"));

    setTabOrder(m_fileList, m_driveList);
    setTabOrder(m_driveList, m_cancelButton);
    setTabOrder(m_cancelButton, m_folderList);
    setTabOrder(m_folderList, m_selectButton);

    // The controls start where the classic ones do: the process's current folder, and the
    // drive list on the volume that holds it.
    const QString start = platform::normalFolder(QDir::currentPath());
    m_driveList->setDrive(platform::volumeRootOf(start));
    m_folderList->setPath(start);
    m_fileList->setPath(m_folderList->path());
    platform::setCurrentFolderOn(platform::volumeRootOf(start), m_folderList->path());

    connect(m_driveList, &QComboBox::currentIndexChanged, this, &Form3::driveChanged);
    connect(m_folderList, &DirListBox::changed, this, &Form3::folderChanged);
    connect(m_fileList, &FileListBox::fileDoubleClicked, this, &Form3::assign);
    connect(m_selectButton, &QPushButton::clicked, this, &Form3::assign);
    connect(m_cancelButton, &QPushButton::clicked, this, [this] {
        hide();
        reject();
    });

    load();
    m_fileList->setFocus();
}

Form3::~Form3() = default;

void Form3::load()
{
    if (!m_module.lastWavFolder.isEmpty()) {
        // A remembered folder that has gone (deleted, or its volume removed) opens its
        // nearest existing ancestor; with none left the start folder stays.
        const QString folder = platform::nearestExistingFolder(m_module.lastWavFolder);
        if (!folder.isEmpty())
            m_folderList->setPath(folder);
    }
    setBackgroundPicture(this, m_main.backgroundPicture());
    m_cancelButton->setPicture(m_main.clearAllPicture());
    m_selectButton->setPicture(m_main.clearAllPicture());
}

void Form3::driveChanged()
{
    const QString root = m_driveList->drive();
    bool ok = platform::volumeReady(root) && m_folderList->setPath(platform::currentFolderOn(root));
    if (ok)
        m_fileList->setPath(m_folderList->path());
    else
        showMessage(QStringLiteral("Drive not operaitonal"));
}

void Form3::folderChanged()
{
    m_fileList->setPath(m_folderList->path());
    platform::setCurrentFolderOn(platform::volumeRootOf(m_folderList->path()),
                                 m_folderList->path());
}

void Form3::assign()
{
    const QString name = m_fileList->fileName();
    if (name.isEmpty())
        return;
    const int idx = m_main.Idx();
    if (idx < 0 || idx >= kPadCount)
        return; // no pad to fill; Idx always comes from a pad, so this does not happen
    // The separator is always added, so a file at a root gets two in a row ("//a.wav").
    const QString path = m_folderList->path() + platform::pathSeparator() + name;
    // The label comes from the path, by the rule a preset load uses: a name holding "\"
    // is labelled from what follows its last one, either way.
    showPad(m_main, idx, path);
    m_module.padPaths[std::size_t(idx)] = path;
    m_module.lastWavFolder = m_folderList->path();
    accept();
}

void Form3::keyPressEvent(QKeyEvent *event)
{
    if (!pressFocusedButton(this, event))
        QDialog::keyPressEvent(event);
}

} // namespace bellboard
