#pragma once

// Records the test sink's monitor with parec, as mono float at 48 kHz, and remembers when
// each block arrived, so a test can tell what was heard and a benchmark when.

#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace bellboard::test {

class MonitorRecorder final
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int rate = 48000;

    // A small `latencyMs` makes blocks arrive soon after the sink renders them, but pulls the
    // sink's own latency down to it for every client; a benchmark records relaxed instead
    // and times frames by the sink's clock (sinkTimeOf).
    explicit MonitorRecorder(QString source = QStringLiteral("bellboard_test.monitor"),
                             int latencyMs = 5);
    ~MonitorRecorder();
    MonitorRecorder(const MonitorRecorder &) = delete;
    MonitorRecorder &operator=(const MonitorRecorder &) = delete;

    // Starts parec and waits until the sink delivers small blocks in real time (a null sink
    // that was idle first finishes a block of up to two seconds). False if it never does.
    bool start(std::chrono::milliseconds timeout = std::chrono::milliseconds(6000));
    void stop();

    // Frames recorded so far.
    std::size_t position() const;
    // Waits until `frames` have been recorded; false on timeout or when parec ended.
    bool waitUntil(std::size_t frames, std::chrono::milliseconds timeout);
    // What was recorded from frame `from` up to `to`.
    std::vector<float> samples(std::size_t from, std::size_t to) const;
    // When the sink rendered `frame`, by its own clock: a null sink renders at a steady
    // rate, so a block that ended k frames after `frame` and arrived at t says the frame
    // was rendered by t - k / rate, and the block that arrived soonest bounds it best.
    // Only blocks recorded after the last startClock() count: an idle sink renders far
    // ahead, and blocks from then would put it too early. Max() until the frame is recorded.
    Clock::time_point sinkTimeOf(std::size_t frame) const;
    void startClock();
    // The frame that the sink was playing at `when`, estimated from block arrival times.
    std::size_t frameAt(Clock::time_point when) const;

private:
    void readLoop(int fd);

    QString source_;
    int latencyMs_;
    int pid_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable grew_;
    std::vector<float> samples_;
    std::vector<std::pair<std::size_t, Clock::time_point>> arrivals_; // end frame, time
    bool ended_ = false;
    std::size_t clockFrom_ = 0;
};

} // namespace bellboard::test
