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

// Grabs `control` without and then with the keyboard focus, which it keeps, and tells which
// side shows no mark: on each side, within a quarter of the control from its edge along the
// middle line, some pixel must change to one at 3:1 contrast or more. Empty when all do.
inline QString unmarkedSide(QWidget *control)
{
    control->clearFocus();
    const QImage off = control->grab().toImage();
    control->setFocus();
    const QImage on = control->grab().toImage();
    const int w = on.width();
    const int h = on.height();
    const auto marked = [&](int x, int y, int dx, int dy, int steps) {
        for (int k = 0; k < steps; ++k, x += dx, y += dy)
            if (contrastRatio(on.pixelColor(x, y), off.pixelColor(x, y)) >= 3)
                return true;
        return false;
    };
    if (!marked(0, h / 2, 1, 0, w / 4))
        return QStringLiteral("left");
    if (!marked(w - 1, h / 2, -1, 0, w / 4))
        return QStringLiteral("right");
    if (!marked(w / 2, 0, 0, 1, h / 4))
        return QStringLiteral("top");
    if (!marked(w / 2, h - 1, 0, -1, h / 4))
        return QStringLiteral("bottom");
    return QString();
}

} // namespace bellboard::test
