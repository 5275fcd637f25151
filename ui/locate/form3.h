#pragma once

#include "app/mainwindow.h"
#include "app/module1.h"

#include <QDialog>

class QLabel;

namespace bellboard {

class DirListBox;
class DriveListBox;
class FileListBox;
class PictureButton;

// The locate dialog: browse volumes and folders for a .wav file and assign it to the pad
// in the main window's Idx. Constructing it runs its load step; the caller sets the
// caption and shows it with exec().
class Form3 final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form3)

public:
    Form3(Module1 &module, MainWindow &main);
    ~Form3() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void load();
    void driveChanged();
    void folderChanged();
    void assign();

    Module1 &m_module;
    MainWindow &m_main;

    QLabel *m_driveLabel;
    DriveListBox *m_driveList;
    QLabel *m_folderLabel;
    DirListBox *m_folderList;
    QLabel *m_fileLabel;
    FileListBox *m_fileList;
    PictureButton *m_selectButton;
    PictureButton *m_cancelButton;
};

} // namespace bellboard
