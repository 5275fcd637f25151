#pragma once

#include "app/picturebutton.h"

#include <QImage>
#include <QWidget>

namespace bellboard::test {

// Grabs `control` without and then with the keyboard focus, which it keeps, and names a side
// with no mark: along the middle line, within a quarter of the control from that edge, some
// pixel must change to one at 3:1 contrast or more. Empty when every side is marked.
inline QString unmarkedSide(QWidget *control)
{
    control->clearFocus();
    const QImage off = control->grab().toImage();
    control->setFocus();
    const QImage on = control->grab().toImage();
    const int w = on.width();
    const int h = on.height();
    const struct
    {
        const char *name;
        int x, y, dx, dy, steps;
    } sides[] = {{"left", 0, h / 2, 1, 0, w / 4},
                 {"right", w - 1, h / 2, -1, 0, w / 4},
                 {"top", w / 2, 0, 0, 1, h / 4},
                 {"bottom", w / 2, h - 1, 0, -1, h / 4}};
    for (const auto &side : sides) {
        bool marked = false;
        for (int k = 0; k < side.steps && !marked; ++k) {
            const QPoint p(side.x + k * side.dx, side.y + k * side.dy);
            marked = contrastRatio(on.pixelColor(p), off.pixelColor(p)) >= 3;
        }
        if (!marked)
            return QString::fromLatin1(side.name);
    }
    return QString();
}

} // namespace bellboard::test
