#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace bellboard::test {

// Runs `act` on the next modal dialog (or popup menu) that opens, from inside its own event
// loop; `act` must close it. Gives up after a few seconds so a test never hangs.
inline void whenModal(std::function<void(QWidget *)> act, bool popup = false)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act, popup, tries = 0]() mutable {
        QWidget *w = popup ? QApplication::activePopupWidget() : QApplication::activeModalWidget();
        if (w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            act(w);
        } else if (++tries > 500) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

} // namespace bellboard::test
