// Measures the sound engine against its targets on a private PulseAudio server with a null
// sink, recording the sink's monitor. Prints one table; see bench/README.md.
#include "app/module1.h"
#include "platform/audio/engine.h"
#include "platform/sound.h"
#include "ui/main/form1.h"

#include "support/audiodetect.h"
#include "support/audiorecorder.h"
#include "support/audiotone.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

using namespace bellboard;
using namespace bellboard::test;
using namespace std::chrono_literals;
using Clock = MonitorRecorder::Clock;

namespace {

constexpr int trials = 30;
constexpr double rate = MonitorRecorder::rate;

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
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

bool server(const QString &dir, const char *command)
{
    return QProcess::execute(source("scripts/test-pulse.sh"), {QString::fromLatin1(command), dir}) == 0;
}

pid_t spawn(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Time from `called` to the first sample above the noise floor at the monitor.
double firstSampleAfter(MonitorRecorder &recorder, Clock::time_point called)
{
    const std::size_t from = recorder.frameAt(called - 20ms);
    recorder.waitUntil(from + std::size_t(0.4 * rate), 3000ms);
    const auto heard = recorder.samples(from, from + std::size_t(0.4 * rate));
    const std::size_t at = firstSound(heard);
    if (at == heard.size())
        return NAN;
    return ms(recorder.timeOf(from + at) - called);
}

// Where a tone of `frequency` starts, to within a millisecond: 4 ms windows, 1 ms apart.
std::size_t toneOnset(const std::vector<float> &x, double frequency, std::size_t from)
{
    for (std::size_t at = from; at + 192 <= x.size(); at += 48)
        if (toneAmplitude(x.data() + at, 192, frequency, rate) > 0.25)
            return at + 96;
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
    return f.open(QIODevice::WriteOnly) && f.write(h) == h.size() && f.resize(44 + qint64(dataBytes));
}

// One cold start in a fresh process: the device is opened by the first call.
int coldChild(const char *file)
{
    MonitorRecorder recorder;
    if (!recorder.start())
        return 1;
    const auto called = Clock::now();
    play(file);
    std::printf("%.3f\n", firstSampleAfter(recorder, called));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // (b) clicks a real main window; no display is needed for that.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    if (argc == 3 && std::string(argv[1]) == "--cold")
        return coldChild(argv[2]);
    // --quick: only (a), (d) and (g), for tuning the device period.
    const bool quick = argc == 2 && std::string(argv[1]) == "--quick";

    QTemporaryDir dir(QStringLiteral("/tmp/bbbench-XXXXXX"));
    const QByteArray dirBytes = QFile::encodeName(dir.path());
    setenv("PULSE_SERVER", ("unix:" + dirBytes + "/native").constData(), 1);
    setenv("PULSE_RUNTIME_PATH", dirBytes.constData(), 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    if (!server(dir.path(), "start")) {
        std::fprintf(stderr, "bench_audio: cannot start a private PulseAudio server\n");
        return 1;
    }

    const QString click = dir.filePath(QStringLiteral("click.wav"));
    const QString a = dir.filePath(QStringLiteral("a.wav"));
    const QString b = dir.filePath(QStringLiteral("b.wav"));
    const QString minute = dir.filePath(QStringLiteral("minute.wav"));
    const QString huge = dir.filePath(QStringLiteral("huge.wav"));
    writeToneFile(click, {.channels = 2, .frequency = 1000.0, .seconds = 0.2});
    writeToneFile(a, {.channels = 2, .frequency = 600.0, .seconds = 2.0});
    writeToneFile(b, {.channels = 2, .frequency = 1500.0, .seconds = 0.3});
    writeToneFile(minute, {.channels = 2, .frequency = 1000.0, .seconds = 61.0});
    const QByteArray clickPath = QFile::encodeName(click);
    std::vector<Row> rows;

    // Cold first clicks, each in a process of its own.
    std::vector<double> cold;
    for (int i = 0; i < (quick ? 0 : 10); ++i) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--cold", click});
        child.waitForFinished(20000);
        bool ok = false;
        const double v = child.readAllStandardOutput().trimmed().toDouble(&ok);
        if (ok && !std::isnan(v))
            cold.push_back(v);
    }

    MonitorRecorder recorder;
    if (!recorder.start()) {
        std::fprintf(stderr, "bench_audio: cannot record the monitor\n");
        server(dir.path(), "stop");
        return 1;
    }

    // (a) call to first sample, device already open.
    std::vector<double> latency;
    play(clickPath);
    std::this_thread::sleep_for(500ms);
    for (int i = 0; i < trials; ++i) {
        const auto called = Clock::now();
        play(clickPath);
        latency.push_back(firstSampleAfter(recorder, called));
        std::this_thread::sleep_for(150ms);
    }

    // (b) a real mouse click on a pad of the main window, through Qt's event delivery.
    std::vector<double> padClicks;
    if (!quick) {
        Module1 module;
        Form1 form(module);
        constexpr int pad = 7;
        module.padPaths[pad] = click;
        form.Label1(pad)->setText(padLabel(click));
        form.wave(pad)->setText(QStringLiteral(">"));
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            std::fprintf(stderr, "bench_audio: the main window was not exposed\n");
        QPushButton *button = form.waveButton(pad);
        for (int i = 0; i < trials; ++i) {
            QTest::qWait(150);
            const auto called = Clock::now();
            QTest::mouseClick(button, Qt::LeftButton);
            padClicks.push_back(firstSampleAfter(recorder, called));
        }
    }

    // First click after a second of quiet: the engine holds its quiet device, and the server
    // has let the stream run dry.
    std::vector<double> afterPause;
    for (int i = 0; i < (quick ? 0 : trials); ++i) {
        const auto deadline = Clock::now() + 5s;
        while (!platform::audio::engineStats().held && Clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        std::this_thread::sleep_for(1s);
        const auto called = Clock::now();
        play(clickPath);
        afterPause.push_back(firstSampleAfter(recorder, called));
    }

    // (c) paplay of the same file, from its start.
    std::vector<double> paplay;
    for (int i = 0; i < (quick ? 0 : trials); ++i) {
        const auto called = Clock::now();
        const pid_t pid = spawn({"paplay", click.toStdString()});
        const double v = firstSampleAfter(recorder, called);
        if (pid > 0)
            waitpid(pid, nullptr, 0);
        paplay.push_back(v);
        std::this_thread::sleep_for(150ms);
    }

    // (d) cut-off: from the second call to the new sound, and to the end of the old one.
    std::vector<double> gap;
    std::vector<double> silenced;
    const QByteArray aPath = QFile::encodeName(a);
    const QByteArray bPath = QFile::encodeName(b);
    for (int i = 0; i < trials; ++i) {
        play(aPath);
        std::this_thread::sleep_for(200ms);
        const auto called = Clock::now();
        play(bPath);
        const std::size_t from = recorder.frameAt(called - 50ms);
        recorder.waitUntil(from + std::size_t(0.3 * rate), 3000ms);
        const auto x = recorder.samples(from, from + std::size_t(0.3 * rate));
        const std::size_t onset = toneOnset(x, 1500.0, 0);
        if (onset < x.size())
            gap.push_back(ms(recorder.timeOf(from + onset) - called));
        std::size_t lastOld = 0;
        for (std::size_t at = 0; at + 192 <= x.size(); at += 48)
            if (toneAmplitude(x.data() + at, 192, 600.0, rate) > 0.1)
                lastOld = at + 192;
        silenced.push_back(ms(recorder.timeOf(from + lastOld) - called));
        std::this_thread::sleep_for(400ms);
    }

    // (e) peak memory growth while streaming a 2 GB file (sparse: silence on disk).
    double rssGrowthMb = NAN;
    if (!quick && writeSparseWave(huge, 2000u * 1024 * 1024)) {
        const long before = peakRssKb();
        play(QFile::encodeName(huge));
        std::this_thread::sleep_for(8s);
        rssGrowthMb = double(peakRssKb() - before) / 1024.0;
        play(clickPath);
        std::this_thread::sleep_for(300ms);
        QFile::remove(huge);
    }

    // (g) underruns over 60 s of playback with the other core kept busy.
    const pid_t busy = fork();
    if (busy == 0) {
        std::atomic<unsigned long> spins{0};
        for (;;)
            spins.fetch_add(1, std::memory_order_relaxed);
    }
    const auto statsBefore = platform::audio::engineStats();
    const auto called = Clock::now();
    play(QFile::encodeName(minute));
    std::this_thread::sleep_for(61s);
    const auto statsAfter = platform::audio::engineStats();
    kill(busy, SIGKILL);
    waitpid(busy, nullptr, 0);
    const std::size_t from = recorder.frameAt(called);
    const auto x = recorder.samples(from, from + std::size_t(61.0 * rate));
    const std::size_t start = firstSound(x);
    std::size_t dropouts = 0; // runs of 2 ms or more of silence inside the tone
    std::size_t zeros = 0;
    const std::size_t stop = std::min(x.size(), start + std::size_t(59.5 * rate));
    for (std::size_t i = start; i < stop; ++i) {
        if (std::fabs(x[i]) < 1e-4) {
            if (++zeros == 96)
                ++dropouts;
        } else {
            zeros = 0;
        }
    }

    // (f) idle CPU once the recorder is gone, after a sound, the device held.
    recorder.stop();
    auto idleCpu = [](std::chrono::seconds span) {
        const double cpu0 = cpuSeconds();
        const auto wall0 = Clock::now();
        std::this_thread::sleep_for(span);
        return 100.0 * (cpuSeconds() - cpu0) / (ms(Clock::now() - wall0) / 1000.0);
    };
    double idleHeld = NAN;
    if (!quick) {
        play(clickPath);
        std::this_thread::sleep_for(1s);
        idleHeld = idleCpu(10s);
    }
    const bool held = platform::audio::engineStats().held;
    server(dir.path(), "stop");

    const double paplayMedian = percentile(paplay, 0.5);
    rows.push_back({"(a) PlaySoundA call to first sample", latency, "ms", "median <= 5 and < (c)",
                    [&](double m, double) { return m <= 5.0 && m < paplayMedian; }});
    rows.push_back({"(b) pad click in the window to first sample", padClicks, "ms",
                    "median <= 5 and < (c)",
                    [&](double m, double) { return m <= 5.0 && m < paplayMedian; }});
    rows.push_back({"(c) paplay of the same file", paplay, "ms", "reference", nullptr});
    rows.push_back({"(d) cut-off: second call to new sound", gap, "ms", "<= 5",
                    [](double m, double) { return m <= 5.0; }});
    rows.push_back({"(d') cut-off: second call to old sound silent", silenced, "ms", "reference",
                    nullptr});
    rows.push_back({"(e) peak RSS growth, 2 GB file", {rssGrowthMb}, "MB", "<= 16",
                    [](double m, double) { return m <= 16.0; }});
    rows.push_back({held ? "(f) idle CPU, device held" : "(f) idle CPU (device NOT held)",
                    {idleHeld}, "% core", "< 1", [](double m, double) { return m < 1.0; }});
    rows.push_back({"(g) dropouts at the monitor, 60 s, core busy", {double(dropouts)}, "count",
                    "0", [](double m, double) { return m == 0.0; }});
    rows.push_back({"(g') engine underruns, 60 s, core busy",
                    {double(statsAfter.underruns - statsBefore.underruns)}, "count", "0",
                    [](double m, double) { return m == 0.0; }});
    rows.push_back({"first click after 1 s of quiet (device held)", afterPause, "ms", "reference",
                    nullptr});
    rows.push_back({"first click, device closed (fresh process)", cold, "ms", "reference", nullptr});

    const auto stats = platform::audio::engineStats();
    std::printf("device period: %d frames at %d Hz (%.1f ms)\n\n", stats.periodFrames,
                stats.deviceRate == 0 ? 48000 : stats.deviceRate,
                1000.0 * stats.periodFrames / (stats.deviceRate == 0 ? 48000 : stats.deviceRate));
    std::printf("| %-46s | %6s | %9s | %9s | %-6s | %-21s | %-4s |\n", "measure", "trials",
                "median", "p95", "unit", "target", "met");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|\n", std::string(48, '-').c_str(), std::string(8, '-').c_str(),
                std::string(11, '-').c_str(), std::string(11, '-').c_str(), std::string(8, '-').c_str(),
                std::string(23, '-').c_str(), std::string(6, '-').c_str());
    for (const Row &row : rows) {
        if (row.values.empty()) {
            std::printf("| %-46s | %6s | %9s | %9s | %-6s | %-21s | %-4s |\n", row.name.c_str(), "-",
                        "-", "-", row.unit.c_str(), row.target.c_str(), "n/a");
            continue;
        }
        const double m = percentile(row.values, 0.5);
        const double p = percentile(row.values, 0.95);
        std::printf("| %-46s | %6zu | %9.2f | %9.2f | %-6s | %-21s | %-4s |\n", row.name.c_str(),
                    row.values.size(), m, p, row.unit.c_str(), row.target.c_str(),
                    row.met ? (row.met(m, p) ? "yes" : "NO") : "");
    }
    return 0;
}
