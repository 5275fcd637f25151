#pragma once

#include <QString>

class QFont;
class QKeyEvent;
class QPixmap;
class QWidget;

namespace bellboard {

// The program's message box: the text, one OK button, no icon, caption "bellboard".
// Opens over the window in front, as its modal child. Waits until OK is pressed.
void showMessage(const QString &text);

// Lets the window system run what is pending once: painting and timer ticks, but no user
// input, so no click can re-enter the operation that yields.
void processPendingEvents();

// Gives a dialog the main window's background picture.
void setBackgroundPicture(QWidget *window, const QPixmap &picture);

// The program's font: "MS Sans Serif" where the system has it, else a close sans serif.
QFont windowFont(qreal pointSize = 8, bool bold = false);

// Enter (Return or the keypad's) presses the button that has the focus, as Space does, once
// per press (its auto-repeats are taken and ignored), and presses nothing when no button has
// it; Esc presses nothing, since no window has a cancel button. Returns false for every
// other key, which the window then handles as usual.
bool pressFocusedButton(QWidget *window, QKeyEvent *event);

// The name and description a screen reader speaks for `control`.
void setSpoken(QWidget *control, const QString &name, const QString &description = QString());

// A caption as it is read out: the "&" that marks the access key is not spoken ("&&" is one
// "&"), nor are the blanks around it.
QString withoutAccessKey(const QString &caption);

// Twips to pixels at 96 dpi; every layout value is a whole number of pixels.
constexpr int px(int twips)
{
    return twips / 15;
}

} // namespace bellboard
