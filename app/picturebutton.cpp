#include "app/picturebutton.h"

#include <QGuiApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <algorithm>
#include <cmath>

namespace bellboard {

PictureButton::PictureButton(QWidget *parent) : QPushButton(parent) {}

PictureButton::PictureButton(const QString &caption, QWidget *parent) : QPushButton(caption, parent)
{}

namespace {

// Relative luminance, as contrast ratios are reckoned.
double luminance(const QColor &c)
{
    const auto linear
        = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPixmap loadPicture(const QString &resource, qreal ratio)
{
    if (ratio <= 0)
        ratio = qApp ? qApp->devicePixelRatio() : 1;
    if (ratio > 1) {
        QPixmap twice(resource.left(resource.lastIndexOf(QLatin1Char('.')))
                      + QStringLiteral("@2x.png"));
        if (!twice.isNull()) {
            twice.setDevicePixelRatio(2);
            return twice;
        }
    }
    return QPixmap(resource);
}

void drawFocusMark(QPainter &p, const QRect &button, const QColor &face)
{
    const bool dark = contrastRatio(Qt::black, face) >= contrastRatio(Qt::white, face);
    p.save();
    p.setClipping(false);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    // drawRect() strokes one pixel beyond right and bottom, hence the extra -1.
    p.setPen(QPen(dark ? Qt::black : Qt::white, 1));
    p.drawRect(button.adjusted(1, 1, -2, -2));
    p.drawRect(button.adjusted(2, 2, -3, -3));
    p.setPen(QPen(dark ? Qt::white : Qt::black, 1));
    p.drawRect(button.adjusted(3, 3, -4, -4));
    p.restore();
}

void PictureButton::setPicture(const QPixmap &picture)
{
    m_picture = picture;
    m_pictureColour = picture.isNull()
                          ? QColor()
                          : picture.toImage()
                                .scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                .pixelColor(0, 0);
    update();
}

void PictureButton::paintEvent(QPaintEvent *)
{
    QStylePainter p(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);

    if (m_picture.isNull()) {
        p.drawControl(QStyle::CE_PushButton, opt);
        if (hasFocus())
            drawFocusMark(p, rect(), palette().color(QPalette::Button));
        return;
    }

    const QRect face = rect();
    const bool down = isDown() || isChecked();
    const int shift = down ? 1 : 0;

    // Cover the face with the picture, centred, scaled down only when it is larger.
    QSize size = m_picture.deviceIndependentSize().toSize();
    if (size.width() > face.width() || size.height() > face.height())
        size = size.scaled(face.size(), Qt::KeepAspectRatioByExpanding);
    QRect target(QPoint(0, 0), size);
    target.moveCenter(face.center() + QPoint(shift, shift));
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setClipRect(face);
    p.drawPixmap(target, m_picture);

    if (down)
        p.fillRect(face, QColor(0, 0, 0, 60));
    if (!isEnabled())
        p.fillRect(face, QColor(128, 128, 128, 110));

    // A raised or sunken edge, as a classic button has.
    const QColor light(255, 255, 255, down ? 60 : 150);
    const QColor dark(0, 0, 0, down ? 150 : 110);
    p.setPen(down ? dark : light);
    p.drawLine(face.topLeft(), face.topRight());
    p.drawLine(face.topLeft(), face.bottomLeft());
    p.setPen(down ? light : dark);
    p.drawLine(face.bottomLeft(), face.bottomRight());
    p.drawLine(face.topRight(), face.bottomRight());

    if (!text().isEmpty()) {
        const QRect textRect = face.adjusted(2 + shift, shift, -2 + shift, shift);
        const int flags = Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextSingleLine;
        // A soft shadow keeps the caption readable on any picture.
        p.setPen(QColor(0, 0, 0, 170));
        p.drawText(textRect.translated(1, 1), flags, text());
        p.setPen(isEnabled() ? QColor(255, 255, 255) : QColor(200, 200, 200));
        p.drawText(textRect, flags, text());
    }

    if (hasFocus())
        drawFocusMark(p, face, m_pictureColour);
}

} // namespace bellboard
