#pragma once

#include "app/mainwindow.h"

#include <QDialog>

class QLabel;

namespace bellboard {

class PictureButton;

// The about box: the program's name and version, and the credit line. Constructing it runs
// its load step.
class Form2 final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form2)

public:
    explicit Form2(MainWindow &main);
    ~Form2() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void load(MainWindow &main);
    void fitHeading();

    PictureButton *m_okButton = nullptr;
    QLabel *m_heading = nullptr;
    QLabel *m_credit = nullptr;
};

} // namespace bellboard
