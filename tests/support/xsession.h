#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

namespace bellboard::test {

// Polls `done` until it holds or `timeout` passes; the last answer counts.
bool until(const std::function<bool()> &done,
           std::chrono::milliseconds timeout = std::chrono::milliseconds(8000));

struct Window
{
    QString id;
    QRect geometry; // the client area, on the screen
};

// A private window system and the real program's windows on it, driven with real input as a
// user drives them. Screenshots go to `artifacts`, numbered by step.
class Desktop
{
public:
    explicit Desktop(const QString &artifacts);
    virtual ~Desktop() = default;
    Desktop(const Desktop &) = delete;
    Desktop &operator=(const Desktop &) = delete;

    // False, with the reason in why(), when it could not start.
    virtual bool start() = 0;
    QString why() const { return m_why; }
    // The system's environment, with this window system's display for the program.
    virtual QProcessEnvironment environment() const = 0;

    // The shown windows titled exactly `title`, newest last.
    virtual QStringList windows(const QString &title) = 0;
    virtual Window window(const QString &id) = 0;
    // The window that has the keyboard focus.
    virtual QString focusedWindow() = 0;
    // Waits for a window titled `title` other than the ones in `except`, and for it to stand
    // where the window system put it.
    Window waitWindow(const QString &title, const QStringList &except = {});
    virtual void click(const Window &w, QPoint at, int button = 1) = 0;
    // Moves the pointer there without pressing.
    virtual void point(const Window &w, QPoint at) = 0;
    // Key names as X11 gives them ("Return", "End", "a"), each with "ctrl+", "alt+" or
    // "shift+" before it to hold that modifier.
    virtual void keys(const QStringList &k) = 0;
    virtual void type(const QString &text) = 0;
    QImage shot(const QString &step);

protected:
    virtual bool grab(const QString &file) = 0;
    // How long a new window must stand still before it counts as placed.
    virtual std::chrono::milliseconds settling() const { return std::chrono::milliseconds(0); }
    int run(const QString &program, const QStringList &args, QString *output = nullptr) const;
    QString m_why;

private:
    QString m_artifacts;
    int m_shot = 0;
};

// A private X server (Xvfb on a free display), driven with xdotool.
class XSession final : public Desktop
{
public:
    explicit XSession(const QString &artifacts);
    ~XSession() override;

    bool start() override;
    QString display() const { return m_display; }
    // With this display and Qt's X11 platform.
    QProcessEnvironment environment() const override;

    QString xdo(const QStringList &args);
    QStringList windows(const QString &title) override;
    Window window(const QString &id) override;
    QString focusedWindow() override;
    void click(const Window &w, QPoint at, int button = 1) override;
    void point(const Window &w, QPoint at) override;
    void keys(const QStringList &k) override;
    void type(const QString &text) override;

protected:
    bool grab(const QString &file) override;

private:
    QProcess m_xvfb;
    QString m_display;
};

// A private headless Wayland compositor (scripts/test-sway.sh), driven with a virtual
// keyboard (wtype) and a virtual pointer, its windows found and shot through the compositor.
class WaylandSession final : public Desktop
{
public:
    explicit WaylandSession(const QString &artifacts);
    ~WaylandSession() override;

    bool start() override;
    // With the compositor's socket, no X display and no platform chosen: Qt finds Wayland.
    QProcessEnvironment environment() const override;

    QStringList windows(const QString &title) override;
    Window window(const QString &id) override;
    QString focusedWindow() override;
    void click(const Window &w, QPoint at, int button = 1) override;
    void point(const Window &w, QPoint at) override;
    void keys(const QStringList &k) override;
    void type(const QString &text) override;
    // Runs a sway command ("[title=...] floating disable"); true when sway took it.
    bool command(const QString &c);
    // The size the program itself drew window `id` at, whatever room sway gave it.
    QSize drawnSize(const QString &id);

protected:
    bool grab(const QString &file) override;
    // sway may place a window again after its first frames, once Qt has drawn the frame
    // round it; slowly under the sanitizers.
    std::chrono::milliseconds settling() const override { return std::chrono::milliseconds(500); }

private:
    QString tree();
    int pointer(const QStringList &args) const;

    QString m_dir;
    QString m_socket;
    QString m_swaySocket;
    QString m_runtime;
};

// The session the tests run on: Wayland where BELLBOARD_TEST_DESKTOP says "wayland", else X11.
std::unique_ptr<Desktop> makeDesktop(const QString &artifacts);

// Saves the board as preset `name` the way a user does: "&Save preset" on the main window,
// the name typed over the field, then "&Save". True once the dialog has closed.
bool saveBoardAs(Desktop &x, const Window &main, const QString &caption, const QString &name);

} // namespace bellboard::test
