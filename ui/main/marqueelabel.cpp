#include "ui/main/marqueelabel.h"

#include <QPainter>

namespace bellboard {

MarqueeLabel::MarqueeLabel(QWidget *parent) : QLabel(parent) {}

void MarqueeLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    drawFrame(&p);

    const QRect area = contentsRect().adjusted(2, 0, -2, 0);
    const QFontMetrics fm(font());
    // horizontalAdvance counts trailing blanks; a right-aligned QLabel would drop them.
    const int width = fm.horizontalAdvance(text());
    const int baseline = area.top() + (area.height() - fm.height()) / 2 + fm.ascent();
    p.setClipRect(area);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(area.right() + 1 - width, baseline, text());
}

} // namespace bellboard
