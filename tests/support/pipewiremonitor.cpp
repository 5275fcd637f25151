#include "pipewiremonitor.h"

#include "platform/audio/pipewireconfig.h"

#include <pipewire/pipewire.h>
#include <spa/node/io.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sched.h>

namespace bellboard::test {

namespace {

constexpr std::size_t slotFrames = 8192; // the largest quantum PipeWire allows
constexpr std::size_t slotCount = 256;   // seconds of small quanta, for a reader held up

struct Slot
{
    PipeWireMonitor::Cycle cycle{};
    std::size_t frames = 0;
    float mono[slotFrames];
};

} // namespace

struct PipeWireMonitor::Private
{
    Private(std::string remote, std::string sink, int latencyMs, Receiver r)
        : remote(std::move(remote)), sink(std::move(sink)), latencyMs(latencyMs),
          receiver(std::move(r))
    {}

    std::string remote;
    std::string sink;
    int latencyMs;
    Receiver receiver;
    pw_thread_loop *loop = nullptr;
    pw_context *context = nullptr;
    pw_core *core = nullptr;
    pw_stream *stream = nullptr;
    spa_hook streamListener{};
    std::atomic<const spa_io_position *> position{nullptr};
    std::atomic<bool> failed{false};

    // The graph's thread fills slots; the reader hands them on. Neither waits for the other.
    std::vector<Slot> slots = std::vector<Slot>(slotCount);
    std::atomic<std::size_t> head{0};
    std::atomic<std::size_t> tail{0};
    std::counting_semaphore<> filled{0};
    std::atomic<bool> stopping{false};
    std::thread reader;

    void process()
    {
        pw_buffer *buffer = pw_stream_dequeue_buffer(stream);
        if (buffer == nullptr)
            return;
        const spa_data &data = buffer->buffer->datas[0];
        const spa_io_position *pos = position.load(std::memory_order_acquire);
        const std::size_t h = head.load(std::memory_order_relaxed);
        if (data.data != nullptr && data.chunk != nullptr && pos != nullptr
            && h - tail.load(std::memory_order_acquire) < slotCount) {
            Slot &slot = slots[h % slotCount];
            const auto *in = reinterpret_cast<const float *>(static_cast<const char *>(data.data)
                                                             + data.chunk->offset % data.maxsize);
            slot.frames = std::min<std::size_t>(
                std::min(data.chunk->size, data.maxsize - data.chunk->offset % data.maxsize)
                    / (2 * sizeof(float)),
                slotFrames);
            for (std::size_t i = 0; i < slot.frames; ++i)
                slot.mono[i] = (in[2 * i] + in[2 * i + 1]) / 2;
            slot.cycle = {pos->clock.position, static_cast<std::int64_t>(pos->clock.nsec),
                          static_cast<std::uint32_t>(pos->clock.duration)};
            head.store(h + 1, std::memory_order_release);
            filled.release();
        }
        pw_stream_queue_buffer(stream, buffer);
    }

    void drain()
    {
        sched_param param{};
        param.sched_priority = 10;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        for (;;) {
            filled.acquire();
            const std::size_t t = tail.load(std::memory_order_relaxed);
            if (t == head.load(std::memory_order_acquire)) {
                if (stopping.load())
                    return;
                continue;
            }
            const Slot &slot = slots[t % slotCount];
            receiver(slot.mono, slot.frames, slot.cycle);
            tail.store(t + 1, std::memory_order_release);
        }
    }

    static void onProcess(void *self) { static_cast<Private *>(self)->process(); }

    static void onIoChanged(void *self, std::uint32_t id, void *area, std::uint32_t)
    {
        if (id == SPA_IO_Position)
            static_cast<Private *>(self)->position.store(static_cast<spa_io_position *>(area),
                                                         std::memory_order_release);
    }

    static void onState(void *self, pw_stream_state, pw_stream_state state, const char *)
    {
        auto *d = static_cast<Private *>(self);
        if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
            d->failed = true;
        pw_thread_loop_signal(d->loop, false);
    }

    static constexpr pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = onState;
        e.io_changed = onIoChanged;
        e.process = onProcess;
        return e;
    }();
};

PipeWireMonitor::PipeWireMonitor(std::string remote, std::string sink, int latencyMs,
                                 Receiver receiver)
    : d(std::make_unique<Private>(std::move(remote), std::move(sink), latencyMs,
                                  std::move(receiver)))
{
    static const bool initialised = (pw_init(nullptr, nullptr), true);
    (void)initialised;
}

PipeWireMonitor::~PipeWireMonitor()
{
    stop();
}

bool PipeWireMonitor::start()
{
    d->loop = pw_thread_loop_new("test-monitor", nullptr);
    // The graph's thread in real time where allowed, so that under load the recorder is not
    // what drops sound.
    d->context = pw_context_new(
        pw_thread_loop_get_loop(d->loop),
        pw_properties_new(PW_KEY_CONFIG_NAME, platform::audio::pipewireClientConfig(), nullptr), 0);
    if (d->context == nullptr || pw_thread_loop_start(d->loop) < 0)
        return false;
    pw_thread_loop_lock(d->loop);
    d->core = pw_context_connect(
        d->context, pw_properties_new(PW_KEY_REMOTE_NAME, d->remote.c_str(), nullptr), 0);
    bool ok = d->core != nullptr;
    if (ok) {
        const std::string latency = std::to_string(d->latencyMs * 48) + "/48000";
        d->stream = pw_stream_new(
            d->core, "bellboard-test-monitor",
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                              PW_KEY_TARGET_OBJECT, d->sink.c_str(), PW_KEY_STREAM_CAPTURE_SINK,
                              "true", PW_KEY_NODE_LATENCY, latency.c_str(), nullptr));
        pw_stream_add_listener(d->stream, &d->streamListener, &Private::events, d.get());
        std::uint8_t buffer[512];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_F32;
        info.rate = 48000;
        info.channels = 2;
        info.position[0] = SPA_AUDIO_CHANNEL_FL;
        info.position[1] = SPA_AUDIO_CHANNEL_FR;
        const spa_pod *params[]
            = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        ok = pw_stream_connect(d->stream, PW_DIRECTION_INPUT, PW_ID_ANY,
                               static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT
                                                            | PW_STREAM_FLAG_MAP_BUFFERS
                                                            | PW_STREAM_FLAG_RT_PROCESS),
                               params, 1)
             == 0;
        // Up once it streams, linked to the sink.
        timespec deadline{};
        pw_thread_loop_get_time(d->loop, &deadline, 3 * SPA_NSEC_PER_SEC);
        while (ok && !d->failed
               && pw_stream_get_state(d->stream, nullptr) != PW_STREAM_STATE_STREAMING)
            ok = pw_thread_loop_timed_wait_full(d->loop, &deadline) == 0;
        ok = ok && !d->failed;
    }
    pw_thread_loop_unlock(d->loop);
    if (ok)
        d->reader = std::thread([this] { d->drain(); });
    else
        stop();
    return ok;
}

void PipeWireMonitor::stop()
{
    if (d->loop == nullptr)
        return;
    pw_thread_loop_lock(d->loop);
    if (d->stream != nullptr)
        pw_stream_destroy(d->stream);
    d->stream = nullptr;
    if (d->core != nullptr)
        pw_core_disconnect(d->core);
    d->core = nullptr;
    pw_thread_loop_unlock(d->loop);
    pw_thread_loop_stop(d->loop);
    if (d->reader.joinable()) {
        d->stopping = true;
        d->filled.release();
        d->reader.join();
    }
    if (d->context != nullptr)
        pw_context_destroy(d->context);
    d->context = nullptr;
    pw_thread_loop_destroy(d->loop);
    d->loop = nullptr;
}

} // namespace bellboard::test
