#pragma once

#include "app/mainwindow.h"

#include <QDialog>

namespace bellboard {

// The about box: the program's name and version. Constructing it runs its load step.
class Form2 final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form2)

public:
    explicit Form2(MainWindow &main);
    ~Form2() override;
};

} // namespace bellboard
