#pragma once

#include <QString>

class QFont;
class QPixmap;
class QWidget;

namespace bellboard {

// The program's message box: the text, one OK button, no icon, caption "bellboard".
// Waits until OK is pressed.
void showMessage(const QString &text);

// Lets the window system run what is pending once: painting and timer ticks, but no user
// input, so no click can re-enter the operation that yields.
void processPendingEvents();

// Gives a dialog the main window's background picture.
void setBackgroundPicture(QWidget *window, const QPixmap &picture);

// The program's font: "MS Sans Serif" where the system has it, else a close sans serif.
QFont windowFont(qreal pointSize = 8, bool bold = false);

// Twips to pixels at 96 dpi; every layout value is a whole number of pixels.
constexpr int px(int twips)
{
    return twips / 15;
}

} // namespace bellboard
