#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <utility>

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

// Runs `act` on every modal dialog that opens while it lives, from inside the dialog's own
// event loop; `act` must close it. For tests where some rows open a dialog and some do not.
class EachModal final
{
public:
    explicit EachModal(std::function<void(QWidget *)> act) : m_act(std::move(act))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget *w = QApplication::activeModalWidget();
            if (!w || !w->isVisible() || m_busy)
                return; // `act` may wait in an event loop of its own; do not start it twice
            m_busy = true;
            m_act(w);
            m_busy = false;
        });
        m_timer.start();
    }
    Q_DISABLE_COPY_MOVE(EachModal)

private:
    std::function<void(QWidget *)> m_act;
    QTimer m_timer;
    bool m_busy = false;
};

} // namespace bellboard::test
