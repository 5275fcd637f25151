#include "app/dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFont>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPalette>
#include <QWidget>

#include <algorithm>

namespace bellboard {

namespace {

// The window a message opens over: the dialog in front, else the active window, else a shown
// one, since a compositor may not have handed the focus to any yet.
QWidget *messageOwner()
{
    if (QWidget *w = QApplication::activeModalWidget())
        return w;
    if (QWidget *w = QApplication::activeWindow())
        return w;
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    const auto shown = std::find_if(windows.begin(), windows.end(), [](QWidget *w) {
        return w->isVisible() && (w->windowType() == Qt::Window || w->windowType() == Qt::Dialog);
    });
    return shown == windows.end() ? nullptr : *shown;
}

} // namespace

void showMessage(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("bellboard"), text, QMessageBox::Ok,
                    messageOwner());
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

bool pressFocusedButton(QWidget *window, QKeyEvent *event)
{
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Once per press, as Space: a held key's repeats would reach the control that the
        // first press moved the focus to, such as Stop after a pad has played.
        if (event->isAutoRepeat())
            break;
        if (auto *button = qobject_cast<QAbstractButton *>(window->focusWidget());
            button && button->isEnabled())
            button->click();
        break;
    case Qt::Key_Escape: break;
    default: return false;
    }
    event->accept();
    return true;
}

void setSpoken(QWidget *control, const QString &name, const QString &description)
{
    // Unchanged words raise no event, so refreshing all pads does not announce each of them.
    if (control->accessibleName() != name)
        control->setAccessibleName(name);
    if (control->accessibleDescription() != description)
        control->setAccessibleDescription(description);
}

QString withoutAccessKey(const QString &caption)
{
    QString spoken;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&')) {
            if (i + 1 < caption.size() && caption[i + 1] == QLatin1Char('&'))
                spoken += caption[++i];
            continue;
        }
        spoken += caption[i];
    }
    return spoken.trimmed();
}

} // namespace bellboard
