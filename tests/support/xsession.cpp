#include "support/xsession.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <csignal>
#include <thread>

#include <sys/prctl.h>

using namespace std::chrono_literals;

namespace bellboard::test {

bool until(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(30ms);
    }
    return done();
}

XSession::XSession(const QString &artifacts) : m_artifacts(artifacts)
{
    QDir(m_artifacts).removeRecursively();
    QDir().mkpath(m_artifacts);
}

XSession::~XSession()
{
    if (m_xvfb.state() != QProcess::NotRunning) {
        m_xvfb.terminate();
        m_xvfb.waitForFinished(5000);
    }
}

bool XSession::start()
{
    // Not left behind should the test die before its destructor runs.
    m_xvfb.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    for (int n = 90; n < 140 && m_display.isEmpty(); ++n) {
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            continue;
        m_xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(n), "-screen", "0",
                                              "1024x768x24", "-nolisten", "tcp"});
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(n);
        if (until([&] { return QFile::exists(socket); }, 5000ms))
            m_display = QStringLiteral(":%1").arg(n);
        else
            m_xvfb.kill();
    }
    return !m_display.isEmpty();
}

QProcessEnvironment XSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

QString XSession::xdo(const QStringList &args)
{
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(10000);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

QStringList XSession::windows(const QString &title)
{
    const QString out
        = xdo({"search", "--onlyvisible", "--name", "^" + QRegularExpression::escape(title) + "$"});
    return out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
}

Window XSession::window(const QString &id)
{
    Window w{id, {}};
    const QString shell = xdo({"getwindowgeometry", "--shell", id});
    QHash<QString, int> v;
    for (const QString &line : shell.split(QLatin1Char('\n'))) {
        const auto kv = line.split(QLatin1Char('='));
        if (kv.size() == 2)
            v.insert(kv[0], kv[1].toInt());
    }
    w.geometry = QRect(v.value("X"), v.value("Y"), v.value("WIDTH"), v.value("HEIGHT"));
    return w;
}

Window XSession::waitWindow(const QString &title, const QStringList &except)
{
    QString found;
    until([&] {
        for (const QString &id : windows(title))
            if (!except.contains(id))
                found = id;
        return !found.isEmpty();
    });
    return found.isEmpty() ? Window{} : window(found);
}

void XSession::click(const Window &w, QPoint at, int button)
{
    xdo({"mousemove", "--window", w.id, QString::number(at.x()), QString::number(at.y())});
    xdo({"click", QString::number(button)});
}

void XSession::keys(const QStringList &k)
{
    xdo(QStringList{"key", "--clearmodifiers"} + k);
}

QImage XSession::shot(const QString &step)
{
    const QString file = QStringLiteral("%1/%2-%3.png")
                             .arg(m_artifacts)
                             .arg(++m_shot, 2, 10, QLatin1Char('0'))
                             .arg(step);
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral("import"), {"-window", "root", file});
    p.waitForFinished(15000);
    return QImage(file);
}

bool saveBoardAs(XSession &x, const Window &main, const QString &caption, const QString &name)
{
    const QStringList before = x.windows(caption);
    x.click(main, {175 + 36, 413 + 10}); // "&Save preset"
    const Window dlg = x.waitWindow(caption, before);
    if (dlg.id.isEmpty())
        return false;
    x.click(dlg, {35 + 60, 35 + 9}); // the name field
    x.keys({"ctrl+a"});
    x.xdo({"type", "--delay", "20", name});
    x.shot(QStringLiteral("save-dialog"));
    x.click(dlg, {14 + 25, 301 + 11}); // "&Save"
    return until([&] { return x.windows(caption).size() == before.size(); });
}

} // namespace bellboard::test
