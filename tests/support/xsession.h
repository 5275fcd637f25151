#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace bellboard::test {

// Polls `done` until it holds or `timeout` passes; the last answer counts.
bool until(const std::function<bool()> &done,
           std::chrono::milliseconds timeout = std::chrono::milliseconds(8000));

struct Window
{
    QString id;
    QRect geometry;
};

// A private X server (Xvfb on a free display) and the real program's windows on it, driven
// with xdotool as a user drives them. Screenshots go to `artifacts`, numbered by step.
class XSession final
{
public:
    explicit XSession(const QString &artifacts);
    ~XSession();
    XSession(const XSession &) = delete;
    XSession &operator=(const XSession &) = delete;

    bool start();
    QString display() const { return m_display; }
    // The system's environment with this display and Qt's X11 platform.
    QProcessEnvironment environment() const;

    QString xdo(const QStringList &args);
    // The visible windows titled exactly `title`, newest last.
    QStringList windows(const QString &title);
    Window window(const QString &id);
    // Waits for a window titled `title` other than the ones in `except`.
    Window waitWindow(const QString &title, const QStringList &except = {});
    void click(const Window &w, QPoint at, int button = 1);
    void keys(const QStringList &k);
    QImage shot(const QString &step);

private:
    QProcess m_xvfb;
    QString m_display;
    QString m_artifacts;
    int m_shot = 0;
};

// Saves the board as preset `name` the way a user does: "&Save preset" on the main window,
// the name typed over the field, then "&Save". True once the dialog has closed.
bool saveBoardAs(XSession &x, const Window &main, const QString &caption, const QString &name);

} // namespace bellboard::test
