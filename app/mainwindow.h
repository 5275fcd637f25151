#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

class QAbstractButton;
class QLabel;
class QWidget;

namespace bellboard {

// What the dialogs see of the main window: its public pad index, its pad controls and the
// look they borrow when they open.
class MainWindow
{
public:
    virtual ~MainWindow() = default;

    virtual qint16 Idx() const = 0;
    virtual QAbstractButton *wave(int i) const = 0;
    virtual QLabel *Label1(int i) const = 0;

    virtual QString caption() const = 0;
    virtual QIcon icon() const = 0;
    virtual QPixmap backgroundPicture() const = 0;
    virtual QPixmap clearAllPicture() const = 0; // the face picture of "&Clear all"
    // The board's own window. Each dialog is its child, so a compositor that places windows
    // itself keeps the dialog over the board, and the dialog shuts off input to it.
    virtual QWidget *boardWindow() = 0;
};

} // namespace bellboard
