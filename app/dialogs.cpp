#include "app/dialogs.h"

#include <QCoreApplication>
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
