#include "app/pads.h"

#include "app/dialogs.h"
#include "app/module1.h"

#include <QAbstractButton>
#include <QLabel>

namespace bellboard {

namespace {

// Pads are spoken as 1..54 in reading order, the order Tab walks them: down the left and
// the middle column, then down the right one, which counts its indices upwards.
int padNumber(int pad)
{
    return pad < 36 ? pad + 1 : 90 - pad;
}

} // namespace

void showPad(MainWindow &main, int pad, const QString &path)
{
    const QString label = padLabel(path);
    QLabel *text = main.Label1(pad);
    QAbstractButton *button = main.wave(pad);
    text->setText(label);
    button->setText(path.isEmpty() ? QStringLiteral("...") : QStringLiteral(">"));
    // The label clips a long name at both ends; the tool tip tells what the pad plays.
    button->setToolTip(path);
    text->setToolTip(path);

    // The label decides whether a pad plays, so the spoken words follow the label too.
    const int number = padNumber(pad);
    const QString name = label.isEmpty()
                             ? QStringLiteral("Pad %1, empty").arg(number)
                             : QStringLiteral("Pad %1: %2").arg(QString::number(number), label);
    const QString description
        = label.isEmpty() ? QStringLiteral("Opens the locate dialog to choose a .wav file")
                          : QStringLiteral("Plays ") + path;
    setSpoken(button, name, description);
    setSpoken(text, name, description);
}

} // namespace bellboard
