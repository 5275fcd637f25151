#pragma once

#include <QPixmap>
#include <QPushButton>

namespace bellboard {

// A push button that shows a picture on its face together with its caption. A picture
// larger than the button is scaled down to cover the face (keeping its proportions and
// cutting what overflows), so the whole face carries the picture at any size.
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
};

} // namespace bellboard
