#include "support/xsession.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

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

Desktop::Desktop(const QString &artifacts) : m_artifacts(artifacts)
{
    QDir(m_artifacts).removeRecursively();
    QDir().mkpath(m_artifacts);
}

int Desktop::run(const QString &program, const QStringList &args, QString *output) const
{
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(program, args);
    if (!p.waitForFinished(15000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (output)
        *output = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

Window Desktop::waitWindow(const QString &title, const QStringList &except)
{
    QString found;
    until([&] {
        for (const QString &id : windows(title))
            if (!except.contains(id))
                found = id;
        return !found.isEmpty();
    });
    if (found.isEmpty())
        return {};
    Window w = window(found);
    auto still = std::chrono::steady_clock::now();
    until([&] {
        const Window now = window(found);
        if (now.geometry != w.geometry)
            still = std::chrono::steady_clock::now();
        w = now;
        return std::chrono::steady_clock::now() - still >= settling();
    });
    return w;
}

QImage Desktop::shot(const QString &step)
{
    const QString file = QStringLiteral("%1/%2-%3.png")
                             .arg(m_artifacts)
                             .arg(++m_shot, 2, 10, QLatin1Char('0'))
                             .arg(step);
    return grab(file) ? QImage(file) : QImage();
}

XSession::XSession(const QString &artifacts) : Desktop(artifacts) {}

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
    // Xvfb takes the first free display itself and says which once it listens: two suites
    // (or a chroot's, whose abstract sockets are the machine's) can never pick the same one.
    m_xvfb.setReadChannel(QProcess::StandardOutput);
    m_xvfb.start(QStringLiteral("Xvfb"),
                 {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    QByteArray number;
    until(
        [&] {
            m_xvfb.waitForReadyRead(50);
            number += m_xvfb.readAllStandardOutput();
            return number.endsWith('\n') || m_xvfb.state() == QProcess::NotRunning;
        },
        5000ms);
    bool ok = false;
    number.trimmed().toInt(&ok);
    if (ok && m_xvfb.state() == QProcess::Running)
        m_display = QStringLiteral(":%1").arg(QString::fromLatin1(number.trimmed()));
    else
        m_xvfb.kill();
    if (m_display.isEmpty())
        m_why = QStringLiteral("no X server could be started");
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
    QString out;
    run(QStringLiteral("xdotool"), args, &out);
    return out;
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

QString XSession::focusedWindow()
{
    return xdo({"getwindowfocus"});
}

void XSession::point(const Window &w, QPoint at)
{
    xdo({"mousemove", "--window", w.id, QString::number(at.x()), QString::number(at.y())});
}

void XSession::click(const Window &w, QPoint at, int button)
{
    point(w, at);
    xdo({"click", QString::number(button)});
}

void XSession::keys(const QStringList &k)
{
    xdo(QStringList{"key", "--clearmodifiers"} + k);
}

void XSession::type(const QString &text)
{
    xdo({"type", "--delay", "20", text});
}

bool XSession::grab(const QString &file)
{
    return run(QStringLiteral("import"), {"-window", "root", file}) == 0;
}

WaylandSession::WaylandSession(const QString &artifacts)
    : Desktop(artifacts),
      m_dir(QStringLiteral(BELLBOARD_BINARY_DIR "/test-sway/") + QDir(artifacts).dirName())
{}

WaylandSession::~WaylandSession()
{
    QProcess::execute(QStringLiteral(BELLBOARD_SOURCE_DIR "/scripts/test-sway.sh"),
                      {QStringLiteral("stop"), m_dir});
}

bool WaylandSession::start()
{
    QProcess script;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("POINTER_TOOL"), QStringLiteral(BELLBOARD_TEST_POINTER));
    script.setProcessEnvironment(env);
    script.start(QStringLiteral(BELLBOARD_SOURCE_DIR "/scripts/test-sway.sh"),
                 {QStringLiteral("start"), m_dir});
    script.waitForFinished(30000);
    const auto line = [&](const char *name) {
        QFile f(m_dir + QLatin1Char('/') + QLatin1String(name));
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()).trimmed()
                                           : QString();
    };
    m_socket = line("wayland");
    m_swaySocket = line("swaysock");
    if (script.exitCode() != 0 || m_socket.isEmpty()) {
        m_why = QString::fromLocal8Bit(script.readAllStandardError()).trimmed();
        return false;
    }
    // The program's own runtime folder: the compositor's belongs to another user.
    m_runtime = m_dir + QStringLiteral("/client-runtime");
    QDir().mkpath(m_runtime);
    QFile::setPermissions(m_runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return true;
}

QProcessEnvironment WaylandSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), m_socket);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    // libwayland has no frame pointers: only the slow unwinder reaches the Qt frames that
    // tests/lsan.supp names.
    if (env.contains(QStringLiteral("ASAN_OPTIONS")))
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS"))
                       + QStringLiteral(":fast_unwind_on_malloc=0"));
    return env;
}

QString WaylandSession::tree()
{
    QString out;
    run(QStringLiteral("swaymsg"), {"-s", m_swaySocket, "-t", "get_tree", "-r"}, &out);
    return out;
}

namespace {

// Every window of a sway tree, tiled or floating.
void eachWindow(const QJsonObject &node, const std::function<void(const QJsonObject &)> &visit)
{
    if (node.contains(QLatin1String("pid")))
        visit(node);
    for (const char *children : {"nodes", "floating_nodes"})
        for (const QJsonValue &child : node.value(QLatin1String(children)).toArray())
            eachWindow(child.toObject(), visit);
}

QJsonObject treeRoot(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

} // namespace

QStringList WaylandSession::windows(const QString &title)
{
    QList<qint64> ids;
    eachWindow(treeRoot(tree()), [&](const QJsonObject &w) {
        if (w.value(QLatin1String("name")).toString() == title)
            ids << w.value(QLatin1String("id")).toInteger();
    });
    std::sort(ids.begin(), ids.end()); // sway numbers its windows as they come
    QStringList out;
    for (qint64 id : ids)
        out << QString::number(id);
    return out;
}

Window WaylandSession::window(const QString &id)
{
    Window found{id, {}};
    eachWindow(treeRoot(tree()), [&](const QJsonObject &w) {
        if (QString::number(w.value(QLatin1String("id")).toInteger()) != id)
            return;
        const QJsonObject r = w.value(QLatin1String("rect")).toObject();
        const QJsonObject inner = w.value(QLatin1String("window_rect")).toObject();
        const auto at
            = [](const QJsonObject &o, const char *k) { return o.value(QLatin1String(k)).toInt(); };
        found.geometry = QRect(at(r, "x") + at(inner, "x"), at(r, "y") + at(inner, "y"),
                               at(inner, "width"), at(inner, "height"));
    });
    return found;
}

QString WaylandSession::focusedWindow()
{
    QString id;
    eachWindow(treeRoot(tree()), [&](const QJsonObject &w) {
        if (w.value(QLatin1String("focused")).toBool())
            id = QString::number(w.value(QLatin1String("id")).toInteger());
    });
    return id;
}

int WaylandSession::pointer(const QStringList &args) const
{
    return run(QStringLiteral(BELLBOARD_TEST_POINTER), args);
}

void WaylandSession::point(const Window &w, QPoint at)
{
    const QPoint p = w.geometry.topLeft() + at;
    pointer({"move", QString::number(p.x()), QString::number(p.y()), "1024", "768"});
}

void WaylandSession::click(const Window &w, QPoint at, int button)
{
    // Linux's button codes: left, right, middle.
    const QString code = QString::number(button == 3 ? 273 : button == 2 ? 274 : 272);
    point(w, at);
    pointer({"press", code});
    pointer({"release", code});
}

void WaylandSession::keys(const QStringList &k)
{
    QStringList args;
    for (const QString &key : k) {
        QStringList parts = key.split(QLatin1Char('+'));
        const QString name = parts.takeLast();
        for (const QString &modifier : parts)
            args << "-M" << modifier;
        args << "-k" << name;
        for (const QString &modifier : parts)
            args << "-m" << modifier;
    }
    run(QStringLiteral("wtype"), args);
}

void WaylandSession::type(const QString &text)
{
    run(QStringLiteral("wtype"), {"-d", "20", "--", text});
}

bool WaylandSession::command(const QString &c)
{
    QString out;
    return run(QStringLiteral("swaymsg"), {"-s", m_swaySocket, c}, &out) == 0;
}

QSize WaylandSession::drawnSize(const QString &id)
{
    QSize size;
    eachWindow(treeRoot(tree()), [&](const QJsonObject &w) {
        if (QString::number(w.value(QLatin1String("id")).toInteger()) != id)
            return;
        const QJsonObject g = w.value(QLatin1String("geometry")).toObject();
        size = QSize(g.value(QLatin1String("width")).toInt(),
                     g.value(QLatin1String("height")).toInt());
    });
    return size;
}

bool WaylandSession::grab(const QString &file)
{
    return run(QStringLiteral("grim"), {file}) == 0;
}

std::unique_ptr<Desktop> makeDesktop(const QString &artifacts)
{
    if (qEnvironmentVariable("BELLBOARD_TEST_DESKTOP") == QLatin1String("wayland"))
        return std::make_unique<WaylandSession>(artifacts);
    return std::make_unique<XSession>(artifacts);
}

bool saveBoardAs(Desktop &x, const Window &main, const QString &caption, const QString &name)
{
    const QStringList before = x.windows(caption);
    x.click(main, {175 + 36, 413 + 10}); // "&Save preset"
    const Window dlg = x.waitWindow(caption, before);
    if (dlg.id.isEmpty())
        return false;
    x.click(dlg, {35 + 60, 35 + 9}); // the name field
    x.keys({"ctrl+a"});
    x.type(name);
    x.shot(QStringLiteral("save-dialog"));
    x.click(dlg, {14 + 25, 301 + 11}); // "&Save"
    return until([&] { return x.windows(caption).size() == before.size(); });
}

} // namespace bellboard::test
