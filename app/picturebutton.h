#pragma once

#include <QColor>
#include <QPixmap>
#include <QPushButton>

class QPainter;

namespace bellboard {

// A push button that shows a picture on its face together with its caption. A picture
// larger than the button is scaled down to cover the face (keeping its proportions and
// cutting what overflows), so the whole face carries the picture at any size. Without a
// picture it is the standard push button. Either way it shows the keyboard focus plainly
// (drawFocusMark), however the focus came to it.
class PictureButton final : public QPushButton
{
    Q_OBJECT

public:
    explicit PictureButton(QWidget *parent = nullptr);
    PictureButton(const QString &caption, QWidget *parent = nullptr);

    QPixmap picture() const { return m_picture; }
    void setPicture(const QPixmap &picture);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_picture;
    QColor m_pictureColour; // the picture's mean colour, which the focus mark must stand out from
};

// The picture `resource` (":/pictures/stop.ico") for a screen at `ratio` device pixels to
// the pixel (0: the application's): above 1, the one drawn at twice the size beside it
// ("stop@2x.png"), at the same logical size, so edges stay sharp at 150 % and 200 %.
QPixmap loadPicture(const QString &resource, qreal ratio = 0);

// Marks the keyboard focus inside `button`: a 2-px ring, one pixel in from the edge, in black
// or white, whichever stands out more from `face`, and inside it a 1-px line of the other,
// so the mark shows on light and dark faces alike.
void drawFocusMark(QPainter &p, const QRect &button, const QColor &face);

// The contrast ratio of two colours, as accessibility guidelines reckon it (1 to 21).
double contrastRatio(const QColor &a, const QColor &b);

} // namespace bellboard
