#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace bellboard::test {

// The contrast ratio of two colours, as accessibility guidelines reckon it (1 to 21).
inline double contrastRatio(const QColor &a, const QColor &b)
{
    const auto luminance = [](const QColor &c) {
        const auto linear = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF())
               + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

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
    const struct { const char *name; int x, y, dx, dy, steps; } sides[] = {
        {"left", 0, h / 2, 1, 0, w / 4},       {"right", w - 1, h / 2, -1, 0, w / 4},
        {"top", w / 2, 0, 0, 1, h / 4},        {"bottom", w / 2, h - 1, 0, -1, h / 4}};
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
