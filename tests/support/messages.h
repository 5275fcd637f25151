#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

namespace bellboard::test {

// Answers every "bellboard" message box that opens while it lives, recording its text, and
// notes any box that does not look as the program's message box must.
class MessageCatcher final
{
public:
    MessageCatcher()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            texts.append(box->text());
            if (box->windowTitle() != QLatin1String("bellboard")
                || box->icon() != QMessageBox::NoIcon || box->buttons().size() != 1
                || box->standardButtons() != QMessageBox::Ok)
                malformed.append(box->text());
            box->button(QMessageBox::Ok)->click();
        });
        m_timer.start();
    }

    QStringList texts;
    QStringList malformed;

private:
    QTimer m_timer;
};

} // namespace bellboard::test
