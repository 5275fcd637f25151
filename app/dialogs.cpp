#include "app/dialogs.h"

#include <QCoreApplication>
#include <QFont>
#include <QMessageBox>
#include <QPalette>
#include <QWidget>

namespace bellboard {

void showMessage(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("bellboard"), text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("bellboardMessage"));
    box.exec();
}

void processPendingEvents()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QFont windowFont(qreal pointSize, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    if (bold)
        font.setWeight(QFont::Bold);
    return font;
}

void setBackgroundPicture(QWidget *window, const QPixmap &picture)
{
    // Tiled from the top-left corner; the picture is larger than every window, so it is
    // drawn unscaled and cut at the window's edges.
    QPalette pal = window->palette();
    pal.setBrush(QPalette::Window, QBrush(picture));
    window->setPalette(pal);
    window->setAutoFillBackground(true);
}

} // namespace bellboard
