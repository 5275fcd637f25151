#pragma once

// Records the test sink's monitor straight from PipeWire, each block with the graph cycle
// that rendered it: its clock position, its start on the monotonic clock and its quantum.
// Through the PulseAudio layer a recorder only learns when blocks arrived, and that layer
// drops quanta of the monitor when streams come and go.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace bellboard::test {

class PipeWireMonitor final
{
public:
    struct Cycle
    {
        std::uint64_t position; // the graph clock's, in frames
        std::int64_t nsec;      // the cycle's start, CLOCK_MONOTONIC
        std::uint32_t quantum;  // frames in the cycle
    };
    // Called on a thread of the monitor's own, never the graph's, with mono frames.
    using Receiver = std::function<void(const float *mono, std::size_t frames, Cycle cycle)>;

    // Records the monitor of the sink named `sink` on the server at `remote`, a socket's
    // path.
    PipeWireMonitor(std::string remote, std::string sink, int latencyMs, Receiver receiver);
    ~PipeWireMonitor();
    PipeWireMonitor(const PipeWireMonitor &) = delete;
    PipeWireMonitor &operator=(const PipeWireMonitor &) = delete;

    // False at once where no PipeWire server answers, or when the stream does not run.
    bool start();
    void stop();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace bellboard::test
