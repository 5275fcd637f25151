#pragma once

// Records the test sink's monitor as mono float at 48 kHz, so a test can tell what was heard
// and a benchmark when. On PipeWire it records natively and knows each frame's cycle;
// elsewhere it runs parec and remembers when each block arrived.

#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace bellboard::test {

class PipeWireMonitor;

class MonitorRecorder final
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int rate = 48000;

    // A small `latencyMs` makes blocks arrive soon after the sink renders them, but pulls the
    // sink's own latency down to it for every client; a benchmark records relaxed instead
    // and times frames by the sink's clock (heardAt).
    explicit MonitorRecorder(QString source = QStringLiteral("bellboard_test.monitor"),
                             int latencyMs = 5);
    ~MonitorRecorder();
    MonitorRecorder(const MonitorRecorder &) = delete;
    MonitorRecorder &operator=(const MonitorRecorder &) = delete;

    // Starts recording and waits until the sink delivers small blocks in real time (a null
    // sink that was idle first finishes a block of up to two seconds). False if it never does.
    bool start(std::chrono::milliseconds timeout = std::chrono::milliseconds(6000));
    void stop();

    // Frames recorded so far.
    std::size_t position() const;
    // Waits until `frames` have been recorded; false on timeout or when parec ended.
    bool waitUntil(std::size_t frames, std::chrono::milliseconds timeout);
    // What was recorded from frame `from` up to `to`.
    std::vector<float> samples(std::size_t from, std::size_t to) const;
    // When a sound card would start to play `frame`. Natively, from the graph's clock: the
    // monitor hands over a cycle's sound one cycle after the sink took it, which is when a
    // card plays it, so it is the start of the cycle that brought it plus its place there.
    // Through parec, when the sink rendered it plus `renderAhead`: a null sink renders at a
    // steady rate, so a block that ended k frames after `frame` and arrived at t says the
    // frame was rendered by t - k / rate, and the block that arrived soonest bounds it
    // best; only blocks recorded after the last startClock() count, since an idle sink
    // renders far ahead and blocks from then would put it too early. Max() until the frame
    // is recorded.
    Clock::time_point heardAt(std::size_t frame, Clock::duration renderAhead) const;
    void startClock();
    // Whether it records natively from PipeWire.
    bool native() const { return native_ != nullptr; }
    // Natively: frames of cycles the recorder missed, and so left out of the recording,
    // where they would have been between frames `from` and `to`.
    std::size_t missedFrames(std::size_t from = 0, std::size_t to = SIZE_MAX) const;
    // The frame that the sink was playing at `when`, estimated from block arrival times.
    std::size_t frameAt(Clock::time_point when) const;

private:
    struct Cycle
    {
        std::size_t frame; // the first frame it rendered, in samples_
        Clock::time_point start;
        std::uint32_t quantum;
    };

    void readLoop(int fd);
    bool startParec(std::chrono::milliseconds timeout);
    const Cycle *cycleOf(std::size_t frame) const;

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
    std::unique_ptr<PipeWireMonitor> native_;
    std::vector<Cycle> cycles_; // natively only
    std::uint64_t nextPosition_ = 0;
    std::vector<std::pair<std::size_t, std::size_t>> missed_; // where, how many
};

} // namespace bellboard::test
