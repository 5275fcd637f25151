#include "audiorecorder.h"

#include "pipewiremonitor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace bellboard::test {

using namespace std::chrono_literals;

MonitorRecorder::MonitorRecorder(QString source, int latencyMs)
    : source_(std::move(source)), latencyMs_(latencyMs)
{}

MonitorRecorder::~MonitorRecorder()
{
    stop();
}

bool MonitorRecorder::start(std::chrono::milliseconds timeout)
{
    QString sink = source_;
    sink.remove(QRegularExpression(QStringLiteral("\\.monitor$")));
    // The PipeWire server behind the PulseAudio socket parec would use, where it is one;
    // the program under test may have been kept from that socket on purpose.
    const QString pulse = qEnvironmentVariable("PULSE_SERVER");
    const QString remote = QFileInfo(pulse.mid(pulse.indexOf(QLatin1Char(':')) + 1))
                               .dir()
                               .filePath(QStringLiteral("pipewire-0"));
    native_ = std::make_unique<PipeWireMonitor>(
        remote.toStdString(), sink.toStdString(), latencyMs_,
        [this](const float *mono, std::size_t frames, PipeWireMonitor::Cycle cycle) {
            std::lock_guard lock(mutex_);
            // The graph's monitor skips our recorder for a cycle or two when streams come and
            // go; what the sink rendered then is unknown, not silence, so it is left out and
            // counted. Each cycle keeps its own start, so times stay exact. A jump of
            // seconds is the graph having stopped.
            const std::uint64_t lost = cycle.position - nextPosition_;
            if (!cycles_.empty() && cycle.position > nextPosition_ && lost <= 2 * rate)
                missed_.emplace_back(samples_.size(), lost);
            cycles_.push_back({samples_.size(),
                               Clock::time_point(std::chrono::nanoseconds(cycle.nsec)),
                               cycle.quantum});
            samples_.insert(samples_.end(), mono, mono + frames);
            nextPosition_ = cycle.position + frames;
            grew_.notify_all();
        });
    if (QFile::exists(remote) && native_->start()) {
        std::unique_lock lock(mutex_);
        return grew_.wait_for(lock, timeout, [this] { return cycles_.size() >= 10; });
    }
    native_.reset();
    return startParec(timeout);
}

bool MonitorRecorder::startParec(std::chrono::milliseconds timeout)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    const QByteArray device = "--device=" + source_.toLocal8Bit();
    const QByteArray latency = "--latency-msec=" + QByteArray::number(latencyMs_);
    // Two channels, mixed here: servers differ in how they mix down (PipeWire scales L+R
    // by 0.707, not 0.5).
    const char *argv[] = {"parec",
                          device.constData(),
                          "--format=float32le",
                          "--rate=48000",
                          "--channels=2",
                          latency.constData(),
                          "--raw",
                          nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    // The recorder at real-time priority where allowed: under load it must not be the one
    // that drops sound (a server may drop what a slow reader leaves).
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSCHEDULER);
    posix_spawnattr_setschedpolicy(&attr, SCHED_FIFO);
    sched_param param{};
    param.sched_priority = 10;
    posix_spawnattr_setschedparam(&attr, &param);
    int rc = posix_spawnp(&pid_, "parec", &actions, &attr, const_cast<char **>(argv), environ);
    if (rc != 0)
        rc = posix_spawnp(&pid_, "parec", &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        pid_ = -1;
        return false;
    }
    reader_ = std::thread([this, fd = fds[0]] { readLoop(fd); });

    // Settled once ten blocks in a row each brought at most 20 ms of sound (or, relaxed,
    // about the fragment asked for).
    const std::size_t settledBlock = std::max<std::size_t>(rate / 50, 2 * latencyMs_ * rate / 1000);
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        int small = 0;
        for (auto it = arrivals_.rbegin(); it != arrivals_.rend() && small < 10; ++it) {
            const std::size_t begin = std::next(it) == arrivals_.rend() ? 0 : std::next(it)->first;
            if (it->first - begin > settledBlock)
                break;
            ++small;
        }
        if (small >= 10)
            return true;
        if (ended_ || grew_.wait_until(lock, deadline) == std::cv_status::timeout)
            return false;
    }
}

void MonitorRecorder::stop()
{
    if (native_) {
        native_->stop();
        std::lock_guard lock(mutex_);
        ended_ = true;
        grew_.notify_all();
    }
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
}

void MonitorRecorder::readLoop(int fd)
{
    sched_param param{};
    param.sched_priority = 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    std::vector<char> buffer(1 << 16);
    std::size_t carry = 0;
    float frame[2];
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data() + carry, buffer.size() - carry);
        const auto now = Clock::now();
        if (got <= 0)
            break;
        const std::size_t bytes = carry + static_cast<std::size_t>(got);
        const std::size_t whole = bytes / sizeof(frame);
        {
            std::lock_guard lock(mutex_);
            const std::size_t at = samples_.size();
            samples_.resize(at + whole);
            for (std::size_t i = 0; i < whole; ++i) {
                std::memcpy(frame, buffer.data() + i * sizeof(frame), sizeof(frame));
                samples_[at + i] = (frame[0] + frame[1]) / 2;
            }
            arrivals_.emplace_back(samples_.size(), now);
        }
        carry = bytes - whole * sizeof(frame);
        std::memmove(buffer.data(), buffer.data() + whole * sizeof(frame), carry);
        grew_.notify_all();
    }
    ::close(fd);
    std::lock_guard lock(mutex_);
    ended_ = true;
    grew_.notify_all();
}

std::size_t MonitorRecorder::position() const
{
    std::lock_guard lock(mutex_);
    return samples_.size();
}

bool MonitorRecorder::waitUntil(std::size_t frames, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return grew_.wait_for(lock, timeout, [&] { return ended_ || samples_.size() >= frames; })
           && samples_.size() >= frames;
}

std::vector<float> MonitorRecorder::samples(std::size_t from, std::size_t to) const
{
    std::lock_guard lock(mutex_);
    to = std::min(to, samples_.size());
    from = std::min(from, to);
    return {samples_.begin() + static_cast<std::ptrdiff_t>(from),
            samples_.begin() + static_cast<std::ptrdiff_t>(to)};
}

const MonitorRecorder::Cycle *MonitorRecorder::cycleOf(std::size_t frame) const
{
    auto it = std::upper_bound(cycles_.begin(), cycles_.end(), frame,
                               [](std::size_t f, const Cycle &c) { return f < c.frame; });
    return it == cycles_.begin() ? nullptr : &*std::prev(it);
}

MonitorRecorder::Clock::time_point MonitorRecorder::heardAt(std::size_t frame,
                                                            Clock::duration renderAhead) const
{
    std::lock_guard lock(mutex_);
    if (native_) {
        const Cycle *c = cycleOf(frame);
        if (c == nullptr || frame >= samples_.size())
            return Clock::time_point::max();
        return c->start + std::chrono::nanoseconds((frame - c->frame) * 1'000'000'000ull / rate);
    }
    // Blocks from the few seconds after the frame only: a server that stopped its sink for a
    // while (PipeWire suspends idle ones) starts a new timeline.
    auto best = Clock::time_point::max();
    for (std::size_t i = clockFrom_; i < arrivals_.size(); ++i) {
        const auto &[end, when] = arrivals_[i];
        if (end < frame)
            continue;
        if (end > frame + 3 * rate)
            break;
        best = std::min(best, when
                                  - std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(double(end - frame) / rate)));
    }
    return best == Clock::time_point::max() ? best : best + renderAhead;
}

void MonitorRecorder::startClock()
{
    std::lock_guard lock(mutex_);
    clockFrom_ = arrivals_.size();
}

std::size_t MonitorRecorder::missedFrames(std::size_t from, std::size_t to) const
{
    std::lock_guard lock(mutex_);
    std::size_t total = 0;
    for (const auto &[at, lost] : missed_)
        if (at >= from && at <= to)
            total += lost;
    return total;
}

std::size_t MonitorRecorder::frameAt(Clock::time_point when) const
{
    std::lock_guard lock(mutex_);
    if (native_) {
        auto it = std::upper_bound(cycles_.begin(), cycles_.end(), when,
                                   [](Clock::time_point t, const Cycle &c) { return t < c.start; });
        if (it == cycles_.begin())
            return 0;
        --it;
        return it->frame
               + static_cast<std::size_t>(std::chrono::duration<double>(when - it->start).count()
                                          * rate);
    }
    auto it = std::lower_bound(arrivals_.begin(), arrivals_.end(), when,
                               [](const auto &a, Clock::time_point t) { return a.second < t; });
    if (it == arrivals_.end())
        return samples_.size();
    const double back = std::chrono::duration<double>(it->second - when).count() * rate;
    return it->first - std::min(it->first, static_cast<std::size_t>(back));
}

} // namespace bellboard::test
