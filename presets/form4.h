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

    // Object names keep the design's: Label1, Text1, List1, Command1, command3, Command2.
    QLabel *modeLabel = nullptr; // "Save Preset" or "Load Preset"
    QLineEdit *nameField = nullptr;
    QListWidget *presetList = nullptr;
    PictureButton *actionButton = nullptr; // "&Save" or "&Load"
    PictureButton *deleteButton = nullptr;
    PictureButton *cancelButton = nullptr;

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
