// Measures the sound engine against its targets on a private sound server with a null sink
// (the one PULSE_SERVER names, else a PulseAudio server of its own), recording the sink's
// monitor. Prints one table; see bench/README.md.
#include "app/module1.h"
#include "platform/sound.h"
#include "platform/soundengine.h"
#include "ui/main/form1.h"

#include "support/audiodetect.h"
#include "support/audiorecorder.h"
#include "support/audiotone.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace bellboard;
using namespace bellboard::test;
using namespace std::chrono_literals;
using Clock = MonitorRecorder::Clock;

namespace {

constexpr int trials = 30;
constexpr double rate = MonitorRecorder::rate;
// A relaxed recorder: it must not pull the sink's latency below what the program asks for.
constexpr int recorderLatencyMs = 100;
// PipeWire runs its whole graph at the smallest quantum any active stream asks for: a relaxed
// recorder would hold it at 43 ms while our stream is corked, and a click after sleep would
// wait for the graph to come down to ours, which no desktop without a recorder does. 5 ms
// is below the quantum our stream gets (5.3 ms), so it changes nothing while we play.
constexpr int pipewireRecorderLatencyMs = 5;
constexpr uid_t nobody = 65534;

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

std::size_t frames(double seconds)
{
    return static_cast<std::size_t>(seconds * rate);
}

struct Row
{
    std::string name;
    std::vector<double> values;
    std::string unit;
    std::string target;
    std::function<bool(double median, double p95)> met;
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const double at = p * double(v.size() - 1);
    const auto lo = static_cast<std::size_t>(std::floor(at));
    const auto hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (at - double(lo));
}

QString source(const char *name)
{
    return QStringLiteral(BELLBOARD_SOURCE_DIR) + QLatin1Char('/') + QLatin1String(name);
}

bool pulseServer(const QString &dir, const char *command)
{
    return QProcess::execute(source("scripts/test-pulse.sh"), {QString::fromLatin1(command), dir})
           == 0;
}

QString pactl(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    p.waitForFinished(5000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The latency the sink renders ahead of its clock, as configured while our stream is on it.
Clock::duration sinkLatency()
{
    const QString sinks = pactl({QStringLiteral("list"), QStringLiteral("sinks")});
    const qsizetype at = sinks.indexOf(QLatin1String("Name: bellboard_test"));
    const QRegularExpression re(QStringLiteral("Latency: (\\d+) usec, configured (\\d+) usec"));
    const auto m = re.match(sinks, std::max<qsizetype>(at, 0));
    return m.hasMatch() ? std::chrono::microseconds(m.captured(2).toLongLong()) : Clock::duration{};
}

// Frames of the monitor mapped onto the sink's clock, plus its render-ahead: when a user
// would have heard them on a real device.
struct Timeline
{
    MonitorRecorder &recorder;
    Clock::duration latency;

    Clock::time_point heardAt(std::size_t frame) const { return recorder.heardAt(frame, latency); }
    // The frame heard at `when`, once the recording has gone some way past it.
    std::size_t frameAt(Clock::time_point when) const
    {
        const std::size_t rough = recorder.frameAt(when); // early by up to a block
        recorder.waitUntil(rough + frames(0.5), 5000ms);
        const double s = std::chrono::duration<double>(when - heardAt(rough)).count();
        return s <= 0 ? rough : rough + static_cast<std::size_t>(s * rate);
    }
    std::vector<float> record(Clock::time_point from, double seconds, std::size_t *first) const
    {
        *first = frameAt(from);
        recorder.waitUntil(*first + frames(seconds),
                           std::chrono::milliseconds(int(seconds * 1000) + 5000));
        return recorder.samples(*first, *first + frames(seconds));
    }
};

// Time from `called` to the first sample of sound heard.
double firstSampleAfter(const Timeline &line, Clock::time_point called)
{
    std::size_t from = 0;
    const auto heard = line.record(called - 20ms, 0.4, &from);
    const std::size_t at = firstSound(heard);
    if (at == heard.size())
        return NAN;
    return ms(line.heardAt(from + at) - called);
}

// Where a tone of `frequency` starts: 2 ms windows, a quarter window apart.
std::size_t toneOnset(const std::vector<float> &x, double frequency)
{
    for (std::size_t at = 0; at + 96 <= x.size(); at += 24)
        if (toneAmplitude(x.data() + at, 96, frequency, rate) > 0.25)
            return at + 48;
    return x.size();
}

long peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
           + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void play(const QByteArray &path)
{
    platform::PlaySoundA(path.constData(), nullptr, platform::SND_ASYNC);
}

// A RIFF header for 16-bit stereo at 48 kHz over `dataBytes`; the data itself is a hole.
bool writeSparseWave(const QString &path, quint32 dataBytes)
{
    const QByteArray h = test::pcmWaveHeader(36 + dataBytes, 2, 48000, 16, dataBytes);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(h) == h.size()
           && f.resize(44 + qint64(dataBytes));
}

// Children run the player as an ordinary user, as on a desktop: no real-time priority.
void becomeOrdinaryUser(const QByteArray &home)
{
    if (geteuid() != 0)
        return;
    setgroups(0, nullptr);
    if (setgid(nobody) != 0 || setuid(nobody) != 0)
        _exit(3);
    setenv("HOME", home.constData(), 1);
    unsetenv("XDG_RUNTIME_DIR");
    unsetenv("PULSE_RUNTIME_PATH");
}

// Lets an ordinary user reach the server's socket and the sound files.
void openUp(const QString &socket, const QString &files)
{
    for (QString p : {socket, files}) {
        ::chmod(QFile::encodeName(p).constData(), 0777);
        while ((p = QFileInfo(p).path()) != QLatin1String("/")) {
            struct stat st = {};
            if (::stat(QFile::encodeName(p).constData(), &st) == 0)
                ::chmod(QFile::encodeName(p).constData(), (st.st_mode & 07777) | 0711);
        }
    }
}

// The sound server's processes: the pid files its start script leaves beside its socket.
std::vector<pid_t> serverProcesses(const QString &socket)
{
    std::vector<pid_t> pids;
    const QDir dir = QFileInfo(socket).dir();
    for (const QString &name :
         dir.entryList({QStringLiteral("pid"), QStringLiteral("*.pid")}, QDir::Files)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            pids.push_back(static_cast<pid_t>(f.readAll().trimmed().toLong()));
    }
    return pids;
}

// CPU seconds `pids` have used so far.
double cpuSecondsOf(const std::vector<pid_t> &pids)
{
    double total = 0;
    for (pid_t pid : pids) {
        QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = f.readAll();
        // Fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            total += double(fields[11].toLongLong() + fields[12].toLongLong())
                     / double(sysconf(_SC_CLK_TCK));
    }
    return total;
}

// Percent of a core that `cpu` (a function giving CPU seconds) takes over `seconds`.
template<typename Cpu>
double cpuPercentOver(Cpu cpu, double seconds)
{
    const double before = cpu();
    const auto wall0 = Clock::now();
    QTest::qWait(int(seconds * 1000)); // windows go on ticking meanwhile
    return 100.0 * (cpu() - before) / (ms(Clock::now() - wall0) / 1000.0);
}

// The test sink's state as the server reports it: RUNNING, IDLE or SUSPENDED.
QString sinkState()
{
    const QString sinks
        = pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks")});
    for (const QString &line : sinks.split(QLatin1Char('\n')))
        if (line.section(QLatin1Char('\t'), 1, 1) == QLatin1String("bellboard_test"))
            return line.section(QLatin1Char('\t'), -1).trimmed();
    return QStringLiteral("?");
}

// A shown main window whose pad 7 plays `file`, as a user's board has it.
struct Board
{
    explicit Board(const QString &file) : form(module)
    {
        module.padPaths[pad] = file;
        form.Label1(pad)->setText(padLabel(file));
        form.wave(pad)->setText(QStringLiteral(">"));
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            std::fprintf(stderr, "bench_audio: the main window was not exposed\n");
    }
    QPushButton *button() const { return form.waveButton(pad); }

    static constexpr int pad = 7;
    Module1 module;
    Form1 form;
};

// Presses the pad's button with the mouse, holds it `held`, and lets go; returns when the
// button was let go, which is when the click plays.
Clock::time_point clickPad(QPushButton *button, std::chrono::milliseconds held)
{
    QTest::mousePress(button, Qt::LeftButton);
    if (held.count() > 0)
        QTest::qWait(int(held.count()));
    const auto released = Clock::now();
    QTest::mouseRelease(button, Qt::LeftButton);
    return released;
}

// A fresh program, started as the program starts: the output prepared, the window shown,
// then at once a pad clicked as a person clicks, held 100 ms. Prints when it was let go.
int childHeldClickAfterStart(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    platform::audio::prepare();
    const Board board(QString::fromLocal8Bit(argv[2]));
    const auto released = clickPad(board.button(), 100ms);
    std::printf("%lld\n", static_cast<long long>(released.time_since_epoch().count()));
    std::fflush(stdout);
    QTest::qWait(600);
    return 0;
}

// One child: plays `file` for `seconds` through the engine, or through paplay.
int childPlay(const char *how, const char *file, const char *home, double seconds)
{
    // PipeWire's own output needs real time, which an ordinary user gets only from rtkit.
    if (!qEnvironmentVariableIsSet("BELLBOARD_BENCH_REALTIME_PLAYER"))
        becomeOrdinaryUser(home);
    if (std::string(how) == "paplay") {
        execlp("paplay", "paplay", file, static_cast<char *>(nullptr));
        return 4;
    }
    const auto called = Clock::now();
    play(file);
    std::printf("%lld\n", static_cast<long long>(called.time_since_epoch().count()));
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds + 0.5));
    // Which output played, and whether the decoder ever fell behind it.
    const auto stats = platform::soundEngine().stats();
    std::printf("%s, %llu underruns\n", stats.output != nullptr ? stats.output : "none",
                static_cast<unsigned long long>(stats.underruns));
    return 0;
}

std::vector<pid_t> busyProcesses(int count)
{
    std::vector<pid_t> pids;
    for (int i = 0; i < count; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            std::atomic<unsigned long> spins{0};
            for (;;)
                spins.fetch_add(1, std::memory_order_relaxed);
        }
        pids.push_back(pid);
    }
    return pids;
}

void stop(const std::vector<pid_t> &pids)
{
    for (pid_t pid : pids) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// The long tone: 997 Hz from phase 0, a period of no whole number of frames, so that where
// a stretch of it sits in the file shows in its phase.
constexpr double loadFrequency = 997.0;
constexpr double loadSeconds = 12.0;

// Which frame of the long tone `x` (16 frames of it) starts at, searched in [from, to).
std::size_t toneFrame(const float *x, std::size_t from, std::size_t to)
{
    std::size_t best = from;
    double bestError = INFINITY;
    for (std::size_t k = from; k < to; ++k) {
        double error = 0;
        for (std::size_t j = 0; j < 16; ++j) {
            const double want = 0.5 * std::sin(2 * M_PI * loadFrequency * double(k + j) / rate);
            error += (x[j] - want) * (x[j] - want);
        }
        if (error < bestError) {
            bestError = error;
            best = k;
        }
    }
    return best;
}

struct LoadResult
{
    double gaps = NAN; // runs of 2 ms or more of silence inside the tone
    double lost = NAN; // frames between the first and last heard that never reached the sink
    double unheardStart = NAN;   // frames before the first heard one (see bench/README.md)
    double recorderMissed = NAN; // frames the recorder itself missed inside the tone
    QString output;              // the output the player's engine took
};

// The long tone played by an ordinary user's process while `busy` processes spin.
LoadResult underLoad(const Timeline &line, const QString &self, const char *how,
                     const QString &file, const QString &home, int busy)
{
    const std::vector<pid_t> spinners = busyProcesses(busy);
    std::this_thread::sleep_for(300ms);
    const auto started = Clock::now();
    QProcess child;
    child.start(self, {QStringLiteral("--child"), QString::fromLatin1(how), file, home,
                       QString::number(loadSeconds)});
    child.waitForFinished(int(loadSeconds * 1000) + 20000);
    stop(spinners);
    const QList<QByteArray> said = child.readAllStandardOutput().trimmed().split('\n');
    const QString output = said.size() == 2 ? QString::fromLatin1(said[1]) : QString();
    std::size_t from = 0;
    const auto x = line.record(started - 50ms, loadSeconds + 3.0, &from);
    const std::size_t start = firstSound(x);
    std::size_t end = x.size();
    while (end > start && std::fabs(x[end - 1]) < 1e-4f)
        --end;
    if (start + 64 >= end)
        return {};
    std::size_t gaps = 0;
    std::size_t silent = 0;
    std::size_t zeros = 0;
    for (std::size_t i = start; i < end; ++i) {
        if (std::fabs(x[i]) < 1e-4f) {
            if (++zeros == 96) {
                ++gaps;
                silent += 96;
            } else if (zeros > 96) {
                ++silent;
            }
        } else {
            zeros = 0;
        }
    }
    const std::size_t total = frames(loadSeconds);
    const std::size_t first = toneFrame(x.data() + start, 0, frames(0.1));
    const std::size_t last = toneFrame(x.data() + end - 16, total - frames(0.1), total - 15) + 15;
    const double heard = double(end - start - silent);
    // Cycles the recorder missed are not the player's loss.
    const double missed = double(line.recorder.missedFrames(from + start, from + end));
    return {double(gaps), std::max(0.0, double(last - first + 1) - heard - missed), double(first),
            missed, output};
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 6 && std::string(argv[1]) == "--child")
        return childPlay(argv[2], argv[3], argv[4], std::atof(argv[5]));
    if (argc == 3 && std::string(argv[1]) == "--held-click-after-start")
        return childHeldClickAfterStart(argc, argv);
    // (b) clicks a real main window; no display is needed for that.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    // --quick: (b), (d), (h), and (h'), (h'') after 10 s rather than 20, for tuning the output.
    // --quantum: (b), (d), the CPU while playing and (g), for choosing the output's quantum.
    // --recorder-msec N: the recorder's latency (see bench/README.md).
    bool quick = false;
    bool quantum = false;
    int recorderMs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        quick = quick || arg == "--quick";
        quantum = quantum || arg == "--quantum";
        if (arg == "--recorder-msec" && i + 1 < argc)
            recorderMs = std::atoi(argv[++i]);
    }
    // Skips what neither --quick nor --quantum measures.
    const bool full = !quick && !quantum;
    const QString self = QCoreApplication::applicationFilePath();

    QTemporaryDir dir(QStringLiteral("/tmp/bbbench-XXXXXX"));
    const QByteArray dirBytes = QFile::encodeName(dir.path());
    const bool ownServer = qEnvironmentVariableIsEmpty("PULSE_SERVER");
    if (ownServer) {
        setenv("PULSE_SERVER", ("unix:" + dirBytes + "/native").constData(), 1);
        setenv("PULSE_RUNTIME_PATH", dirBytes.constData(), 1);
        if (!pulseServer(dir.path(), "start")) {
            std::fprintf(stderr, "bench_audio: cannot start a private PulseAudio server\n");
            return 1;
        }
    }
    const QString socket = qEnvironmentVariable("PULSE_SERVER").mid(5);
    const QString home = dir.filePath(QStringLiteral("home"));
    QDir().mkpath(home);
    openUp(socket, home);
    const QString serverName = QRegularExpression(QStringLiteral("Server Name: ([^\\n]*)"))
                                   .match(pactl({QStringLiteral("info")}))
                                   .captured(1);

    // The server with no program of ours connected, and no recorder.
    const std::vector<pid_t> server = serverProcesses(socket);
    auto serverCpu = [&] { return cpuSecondsOf(server); };
    const double serverCpuAlone = full ? cpuPercentOver(serverCpu, 10.0) : NAN;

    const QString click = dir.filePath(QStringLiteral("click.wav"));
    const QString a = dir.filePath(QStringLiteral("a.wav"));
    const QString b = dir.filePath(QStringLiteral("b.wav"));
    const QString longTone = dir.filePath(QStringLiteral("long.wav"));
    const QString huge = dir.filePath(QStringLiteral("huge.wav"));
    writeToneFile(click, {.channels = 2, .frequency = 1000.0, .seconds = 0.2});
    writeToneFile(a, {.channels = 2, .frequency = 600.0, .seconds = 2.0});
    // 10 ms of a 3 kHz marker first: a lost start shortens the marker.
    writeToneFile(b, {.channels = 2,
                      .frequency = 1500.0,
                      .seconds = 0.3,
                      .markerFrequency = 3000.0,
                      .markerSeconds = 0.01});
    writeToneFile(longTone, {.channels = 2, .frequency = loadFrequency, .seconds = loadSeconds});
    for (const QString &f : {click, a, b, longTone})
        ::chmod(QFile::encodeName(f).constData(), 0644);
    const QByteArray clickPath = QFile::encodeName(click);

    const bool pipewire = serverName.contains(QLatin1String("PipeWire"));
    if (recorderMs <= 0)
        recorderMs = pipewire ? pipewireRecorderLatencyMs : recorderLatencyMs;
    MonitorRecorder recorder(QStringLiteral("bellboard_test.monitor"), recorderMs);
    if (!recorder.start()) {
        std::fprintf(stderr, "bench_audio: cannot record the monitor\n");
        if (ownServer)
            pulseServer(dir.path(), "stop");
        return 1;
    }
    // Our stream on the sink first, so the sink's latency is the one the program asks for;
    // then the clock is read only from blocks the sink rendered at that latency.
    play(clickPath);
    std::this_thread::sleep_for(1500ms);
    recorder.startClock();
    // PipeWire reports no sink latency; a sound card there plays a frame one quantum after
    // the graph renders it, and while our stream plays the quantum is its request size.
    const auto engineStats = platform::soundEngine().stats();
    const double quantumSeconds
        = double(engineStats.periodFrames) / std::max(engineStats.deviceRate, 1);
    const auto graphQuantum = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(quantumSeconds));
    const Clock::duration latency = pipewire ? graphQuantum : sinkLatency();
    std::this_thread::sleep_for(1500ms);
    const Timeline line{recorder, latency};

    // (b) a real mouse click on a pad of the main window, through Qt's event delivery.
    std::vector<double> padClicks;
    {
        const Board board(click);
        QPushButton *button = board.button();
        for (int i = 0; i < trials; ++i) {
            QTest::qWait(250);
            const auto called = Clock::now();
            QTest::mouseClick(button, Qt::LeftButton);
            padClicks.push_back(firstSampleAfter(line, called));
        }
    }

    // Clicks after 20 s untouched, the output asleep: held 100 ms as a person clicks, and
    // pressed and let go at once as a script does. (The recorder keeps the sink awake; the
    // stream itself is corked.) A click that is not held waits for the graph's next cycle,
    // 2048 frames long beside a relaxed recorder, and a press lands anywhere in it: the
    // trials are spread over one such cycle, where waits of equal length would all land at
    // the same place in it.
    std::vector<double> heldAfterIdle;
    std::vector<double> zeroAfterIdle;
    const int idleTrials = quantum ? 0 : quick ? 2 : 3;
    for (int i = 0; i < idleTrials; ++i) {
        const Board board(click);
        for (auto *into : {&heldAfterIdle, &zeroAfterIdle}) {
            QTest::qWait((quick ? 10000 : 20000) + i * 2048 * 1000 / 48000 / idleTrials);
            const auto released = clickPad(board.button(), into == &heldAfterIdle ? 100ms : 0ms);
            into->push_back(firstSampleAfter(line, released));
        }
    }

    // A person's click, held 100 ms, in a program just started.
    std::vector<double> heldAfterStart;
    for (int i = 0; i < (quantum ? 0 : 10); ++i) {
        QProcess child;
        child.start(self, {QStringLiteral("--held-click-after-start"), click});
        child.waitForFinished(20000);
        bool ok = false;
        const long long ns = child.readAllStandardOutput().trimmed().toLongLong(&ok);
        if (ok)
            heldAfterStart.push_back(
                firstSampleAfter(line, Clock::time_point(Clock::duration(ns))));
        std::this_thread::sleep_for(300ms);
    }

    // The first click after a second of quiet: the stream has run dry at the server.
    std::vector<double> afterPause;
    for (int i = 0; i < (full ? trials : 0); ++i) {
        std::this_thread::sleep_for(1200ms);
        const auto called = Clock::now();
        play(clickPath);
        afterPause.push_back(firstSampleAfter(line, called));
    }

    // (c) paplay of the same file, from spawning it to its first sample.
    std::vector<double> paplay;
    for (int i = 0; i < (full ? trials : 0); ++i) {
        QProcess p;
        const auto called = Clock::now();
        p.start(QStringLiteral("paplay"), {click});
        const double v = firstSampleAfter(line, called);
        p.waitForFinished(5000);
        paplay.push_back(v);
        std::this_thread::sleep_for(150ms);
    }

    // (d) cut-off: tone A, then 200 ms later B; from the second call to B's first sample,
    // how much of B's 10 ms marker was heard, and how long A went on after B began.
    std::vector<double> cutoff;
    std::vector<double> marker;
    std::vector<double> oldAfter;
    const QByteArray aPath = QFile::encodeName(a);
    const QByteArray bPath = QFile::encodeName(b);
    for (int i = 0; i < trials; ++i) {
        play(aPath);
        std::this_thread::sleep_for(200ms);
        const auto called = Clock::now();
        play(bPath);
        std::size_t from = 0;
        const auto x = line.record(called - 50ms, 0.6, &from);
        const std::size_t onset = toneOnset(x, 3000.0);
        if (onset >= x.size())
            continue;
        cutoff.push_back(ms(line.heardAt(from + onset) - called));
        marker.push_back(2.0 * double(findTone(x, 3000.0, rate, 96).windows));
        const std::size_t lastOld = findTone(x, 600.0, rate, 192).last;
        oldAfter.push_back(lastOld > onset ? 1000.0 * double(lastOld - onset) / rate : 0.0);
        std::this_thread::sleep_for(400ms);
    }

    // (e) peak memory growth while streaming a 2 GB file (sparse: silence on disk).
    // Also the CPU the process takes while a sound plays.
    double rssGrowthMb = NAN;
    double playingCpu = NAN;
    double serverCpuPlaying = NAN;
    if (!quick && writeSparseWave(huge, 2000u * 1024 * 1024)) {
        const long before = peakRssKb();
        play(QFile::encodeName(huge));
        std::this_thread::sleep_for(1s);
        const double cpuBefore = cpuSeconds();
        const double serverBefore = serverCpu();
        std::this_thread::sleep_for(7s);
        playingCpu = 100.0 * (cpuSeconds() - cpuBefore) / 7.0;
        serverCpuPlaying = 100.0 * (serverCpu() - serverBefore) / 7.0;
        rssGrowthMb = double(peakRssKb() - before) / 1024.0;
        play(clickPath);
        std::this_thread::sleep_for(300ms);
        QFile::remove(huge);
    }

    // First click in a fresh process, which connects to the server on demand.
    std::vector<double> cold;
    for (int i = 0; i < (full ? 10 : 0); ++i) {
        QProcess child;
        child.start(self, {QStringLiteral("--child"), QStringLiteral("engine"), click, home,
                           QStringLiteral("0.3")});
        child.waitForFinished(20000);
        bool ok = false;
        // The first line; the second says which output played.
        const long long ns
            = child.readAllStandardOutput().trimmed().split('\n').value(0).toLongLong(&ok);
        if (ok)
            cold.push_back(firstSampleAfter(line, Clock::time_point(Clock::duration(ns))));
    }

    // (g) gaps and lost frames under load, the player an ordinary user's process.
    struct LoadRow
    {
        const char *how;
        int busy;
        LoadResult result;
    };
    std::vector<LoadRow> load
        = {{"engine", 4, {}}, {"paplay", 4, {}}, {"engine", 8, {}}, {"paplay", 8, {}}};
    for (LoadRow &row : load)
        if (!quick)
            row.result = underLoad(line, self, row.how, longTone, home, row.busy);

    // (f) idle, the recorder gone: 15 s after a pad's sound, the server's CPU and ours (the
    // window's marquee ticking) over 10 s.
    recorder.stop();
    double idleCpu = NAN;
    double serverCpuIdle = NAN;
    QString idleSinkState = QStringLiteral("-");
    if (full) {
        const Board board(click);
        clickPad(board.button(), 100ms);
        QTest::qWait(15000);
        const double server0 = serverCpu();
        idleCpu = cpuPercentOver(cpuSeconds, 10.0);
        serverCpuIdle = 100.0 * (serverCpu() - server0) / 10.0;
        idleSinkState = sinkState();
    }
    if (ownServer)
        pulseServer(dir.path(), "stop");

    // PipeWire's PulseAudio layer cannot run its graph faster than a 5.3 ms quantum, and a
    // card plays a frame one quantum after it is rendered; PipeWire's own clients can.
    const auto stats = platform::soundEngine().stats();
    const bool layer = pipewire && qstrcmp(stats.output, "pipewire") != 0;
    const double startTarget = layer ? 10.0 : 3.0;
    const double startEach = layer ? 12.0 : pipewire ? 4.0 : 5.0;
    const double cutTarget = layer ? 10.0 : 3.0;
    const double cutP95 = layer ? 14.0 : pipewire ? 4.0 : 5.0;
    const std::string idleSink = pipewire ? "not RUNNING" : "SUSPENDED";
    auto limit = [](double v) { return std::to_string(int(v)); };
    const double paplayMedian = percentile(paplay, 0.5);
    auto loadMet = [&](std::size_t engineRow) -> std::function<bool(double, double)> {
        return [&, engineRow](double, double) {
            const LoadResult &e = load[engineRow].result;
            const LoadResult &p = load[engineRow + 1].result;
            return e.gaps == 0 && e.lost == 0 && e.gaps <= p.gaps && e.lost <= p.lost;
        };
    };
    std::vector<Row> rows;
    rows.push_back({"(b) pad click in the window to first sample", padClicks, "ms",
                    "<= " + limit(startTarget) + " and < (c)",
                    [&](double m, double) { return m <= startTarget && m < paplayMedian; }});
    rows.push_back({"(h) click held 100 ms, right after start", heldAfterStart, "ms",
                    "<= " + limit(startTarget) + ", each <= " + limit(startEach),
                    [&, v = heldAfterStart](double m, double) {
                        return m <= startTarget && percentile(v, 1.0) <= startEach;
                    }});
    rows.push_back({"(h') click held 100 ms, after 20 s idle", heldAfterIdle, "ms",
                    "<= " + limit(startTarget) + ", each <= " + limit(startEach),
                    [&, v = heldAfterIdle](double m, double) {
                        return m <= startTarget && percentile(v, 1.0) <= startEach;
                    }});
    rows.push_back(
        {"(h'') zero-length click, after 20 s idle", zeroAfterIdle, "ms",
         pipewire ? "<= 40" : "reference",
         pipewire ? std::function<bool(double, double)>([](double m, double) { return m <= 40.0; })
                  : std::function<bool(double, double)>()});
    rows.push_back({"(b') first click after 1.2 s of quiet", afterPause, "ms",
                    "<= " + limit(startTarget),
                    [&](double m, double) { return m <= startTarget; }});
    rows.push_back({"(c) paplay of the same file", paplay, "ms", "reference", nullptr});
    rows.push_back({"(d) cut-off: second call to new sound", cutoff, "ms",
                    "<= " + limit(cutTarget) + ", p95 <= " + limit(cutP95),
                    [&](double m, double p) { return m <= cutTarget && p <= cutP95; }});
    rows.push_back({"(d') new sound's 10 ms marker heard", marker, "ms", ">= 8, 2 ms windows",
                    [](double m, double) { return m >= 8.0; }});
    rows.push_back({"(d'') old sound after the new one began", oldAfter, "ms", "0 (one window)",
                    [](double, double p) { return p <= 2.0; }});
    rows.push_back(
        {"(e) peak RSS growth, 2 GB file", {rssGrowthMb}, "MB", "<= 16", [](double m, double) {
             return m <= 16.0;
         }});
    rows.push_back(
        {"(i) server CPU, no program connected", {serverCpuAlone}, "% core", "reference", nullptr});
    rows.push_back({"(i') server CPU, program idle 15 s after a sound",
                    {serverCpuIdle},
                    "% core",
                    "<= (i) + 0.1",
                    [&](double m, double) { return m <= serverCpuAlone + 0.1; }});
    rows.push_back({"(i'') sink then: " + idleSinkState.toStdString(),
                    {idleSinkState == QLatin1String("RUNNING") ? 0.0 : 1.0},
                    "asleep",
                    idleSink,
                    [&](double m, double) {
                        return pipewire ? m == 1.0 : idleSinkState == QLatin1String("SUSPENDED");
                    }});
    rows.push_back({"(f) our CPU then", {idleCpu}, "% core", "<= 0.5", [](double m, double) {
                        return m <= 0.5;
                    }});
    rows.push_back({"(f') CPU while a sound plays", {playingCpu}, "% core", "reference", nullptr});
    rows.push_back({"(i''') server CPU while a sound plays",
                    {serverCpuPlaying},
                    "% core",
                    "reference",
                    nullptr});
    for (std::size_t i = 0; i < load.size(); ++i) {
        const bool engine = std::string(load[i].how) == "engine";
        const std::string who
            = engine ? "program (" + load[i].result.output.toStdString() + ")" : "paplay";
        const std::string busy = std::to_string(load[i].busy) + " busy";
        rows.push_back({"(g) gaps, 12 s, " + busy + ", " + who,
                        {load[i].result.gaps},
                        "count",
                        engine ? "0, <= paplay" : "reference",
                        engine ? loadMet(i) : std::function<bool(double, double)>()});
        rows.push_back({"(g) lost frames, 12 s, " + busy + ", " + who,
                        {load[i].result.lost},
                        "frames",
                        engine ? "0, <= paplay" : "reference",
                        engine ? loadMet(i) : std::function<bool(double, double)>()});
        if (line.recorder.native())
            rows.push_back({"    frames the recorder missed, " + busy + ", " + who,
                            {load[i].result.recorderMissed},
                            "frames",
                            "reference",
                            nullptr});
        rows.push_back({"    start not at the monitor, " + busy + ", " + who,
                        {load[i].result.unheardStart},
                        "frames",
                        "reference",
                        nullptr});
    }
    rows.push_back({"first click in a fresh process", cold, "ms", "reference", nullptr});

    const int outRate = stats.deviceRate == 0 ? 48000 : stats.deviceRate;
    const QString recorderNote = recorder.native()
                                     ? QStringLiteral(", native, %1 frames of its cycles missed")
                                           .arg(recorder.missedFrames())
                                     : QString();
    std::printf("server: %s; output: %s, %d Hz, queue %.1f ms, requests %.1f ms; sink latency "
                "%.2f ms; recorder %d ms%s\n\n",
                qPrintable(serverName), stats.output != nullptr ? stats.output : "none", outRate,
                1000.0 * stats.queueFrames / outRate, 1000.0 * stats.periodFrames / outRate,
                ms(latency), recorderMs, qPrintable(recorderNote));
    std::printf("| %-46s | %6s | %9s | %9s | %-6s | %-19s | %-4s |\n", "measure", "trials",
                "median", "p95", "unit", "target", "met");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|\n", std::string(48, '-').c_str(),
                std::string(8, '-').c_str(), std::string(11, '-').c_str(),
                std::string(11, '-').c_str(), std::string(8, '-').c_str(),
                std::string(21, '-').c_str(), std::string(6, '-').c_str());
    for (const Row &row : rows) {
        if (row.values.empty() || std::isnan(row.values[0])) {
            std::printf("| %-46s | %6s | %9s | %9s | %-6s | %-19s | %-4s |\n", row.name.c_str(),
                        "-", "-", "-", row.unit.c_str(), row.target.c_str(), row.met ? "NO" : "");
            continue;
        }
        const double m = percentile(row.values, 0.5);
        const double p = percentile(row.values, 0.95);
        std::printf("| %-46s | %6zu | %9.2f | %9.2f | %-6s | %-19s | %-4s |\n", row.name.c_str(),
                    row.values.size(), m, p, row.unit.c_str(), row.target.c_str(),
                    row.met ? (row.met(m, p) ? "yes" : "NO") : "");
    }
    return 0;
}
