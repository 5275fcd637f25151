#pragma once

#include "app/mainwindow.h"
#include "app/module1.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;

namespace bellboard {

class PictureButton;

// The presets dialog: lists the presets beside the program, saves, loads and deletes them.
// Constructing it runs its load step; the caller then sets the title label, the action
// button's caption and the name field, and shows it with exec().
class Form4 final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form4)

public:
    Form4(Module1 &module, MainWindow &main);
    ~Form4() override;

    QLabel *Label1 = nullptr;      // the mode line
    QLineEdit *Text1 = nullptr;    // the name field
    QListWidget *List1 = nullptr;  // the stored presets
    PictureButton *Command1 = nullptr; // action: "&Save" or "&Load"
    PictureButton *command3 = nullptr; // "Delete"
    PictureButton *Command2 = nullptr; // "&Cancel"

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void act();
    void deleteSelected();

    Module1 &m_module;
    MainWindow &m_main;
};

} // namespace bellboard
