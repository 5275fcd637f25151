// Output through the desktop's sound server (PulseAudio, or PipeWire's PulseAudio layer).
//
// One stream keeps a quarter of a second queued at the server, so a late thread here never
// turns into a gap. A new sound does not wait behind that queue: the queue is flushed and
// the new sound's start written at the server's read position (PA_SEEK_RELATIVE_ON_READ)
// at once; the rest follows at the write position as the server asks for it.
//
// While nothing plays for a while the stream is corked: a corked stream lets the server
// suspend the sink (PulseAudio) or stop the graph (PipeWire), where a silent running one
// keeps both, and the sound card, busy for every program.

#include "platform/audio/helpers.h"
#include "platform/audio/output.h"
#include "platform/audio/realtime.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include <sys/syscall.h>
#include <unistd.h>

namespace bellboard::platform::audio {

namespace {

constexpr pa_usec_t queueUsec = 250 * PA_USEC_PER_MSEC;
// Small requests keep the sink's own render-ahead small: with early requests it is the
// request size, and it delays every start. 1.5 ms rather than 2 took half a millisecond
// off a click for a few more wake-ups while a sound plays.
constexpr pa_usec_t requestUsec = 1500;
// After running dry the stream waits for this much before it plays again, so that what is
// written later continues where the sound stopped instead of landing behind the reader.
constexpr pa_usec_t prebufUsec = requestUsec;
// How soon to look again when the decoder has not kept up.
constexpr pa_usec_t retryUsec = 2 * PA_USEC_PER_MSEC;
constexpr pa_usec_t connectTimeoutUsec = 2 * PA_USEC_PER_SEC;
constexpr std::size_t frameBytes = 2 * sizeof(float);

using Locked
    = ScopedLock<pa_threaded_mainloop, pa_threaded_mainloop_lock, pa_threaded_mainloop_unlock>;

class PulseOutput final : public Output
{
public:
    explicit PulseOutput(Source &source) : source_(source) {}
    ~PulseOutput() override { close(); }
    PulseOutput(const PulseOutput &) = delete;
    PulseOutput &operator=(const PulseOutput &) = delete;

    bool open() override
    {
        loop_ = pa_threaded_mainloop_new();
        if (loop_ == nullptr)
            return false;
        pa_threaded_mainloop_set_name(loop_, "bellboard-pulse");
        if (pa_threaded_mainloop_start(loop_) < 0)
            return false;
        if (!connect())
            return false;
        // The write callbacks are where a late thread would first be heard.
        if (tid_ > 0)
            makeThreadRealTime(tid_);
        return true;
    }

    bool alive() const override { return !failed_.load(std::memory_order_acquire); }

    void wake() override
    {
        Locked lock(loop_);
        if (ready())
            cork(false);
    }

    void sleep() override
    {
        Locked lock(loop_);
        if (ready() && !playing_)
            cork(true);
    }

    // The new sound is pulled on the loop's thread, as every pull is, as soon as we let go
    // of the lock.
    void restart() override
    {
        Locked lock(loop_);
        if (!ready())
            return;
        cancelTimer(retry_);
        cork(false);
        playing_ = true;
        if (restart_ == nullptr)
            restart_ = pa_context_rttime_new(context_, pa_rtclock_now(), onRestart, this);
    }

    const char *name() const override { return "pulse"; }
    int rate() const override { return rate_; }
    int periodFrames() const override { return static_cast<int>(requestFrames_); }
    int queueFrames() const override { return static_cast<int>(queueFrames_); }

private:
    bool ready() const
    {
        return stream_ != nullptr && !failed_.load(std::memory_order_relaxed)
               && pa_stream_get_state(stream_) == PA_STREAM_READY;
    }

    // Runs with the loop locked: the callbacks signal, and a timer ends the wait.
    template<typename Done>
    bool waitUntil(Done done)
    {
        timedOut_ = false;
        pa_time_event *timer = pa_context_rttime_new(
            context_, pa_rtclock_now() + connectTimeoutUsec, onTimeout, this);
        while (!done() && !failed_.load(std::memory_order_relaxed) && !timedOut_)
            pa_threaded_mainloop_wait(loop_);
        if (timer != nullptr)
            pa_threaded_mainloop_get_api(loop_)->time_free(timer);
        return done();
    }

    bool connect()
    {
        Locked lock(loop_);
        pa_proplist *props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Bellboard");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "io.github.bellboard.Bellboard");
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "production");
        context_
            = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Bellboard", props);
        if (context_ == nullptr) {
            pa_proplist_free(props);
            return false;
        }
        pa_context_set_state_callback(context_, onContextState, this);
        // Never start a server of our own: without one the engine falls back to SDL.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0
            || !waitUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; })) {
            pa_proplist_free(props);
            return false;
        }

        // Play at the default sink's rate, so the server has nothing to convert.
        if (pa_operation *op = pa_context_get_server_info(context_, onServerInfo, this)) {
            waitUntil([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
            pa_operation_unref(op);
        }
        if (!defaultSink_.empty()) {
            if (pa_operation *op = pa_context_get_sink_info_by_name(context_, defaultSink_.c_str(),
                                                                    onSinkInfo, this)) {
                waitUntil([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
                pa_operation_unref(op);
            }
        }
        rate_ = usableRate(rate_);

        pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(rate_), 2};
        pa_channel_map map;
        pa_channel_map_init_stereo(&map);
        pa_proplist_sets(props, PA_PROP_MEDIA_NAME, "Pads");
        stream_ = pa_stream_new_with_proplist(context_, "Pads", &format, &map, props);
        pa_proplist_free(props);
        if (stream_ == nullptr)
            return false;
        pa_stream_set_state_callback(stream_, onStreamState, this);
        pa_stream_set_write_callback(stream_, onWrite, this);

        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(queueUsec, &format));
        attr.prebuf = static_cast<std::uint32_t>(pa_usec_to_bytes(prebufUsec, &format));
        attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(requestUsec, &format));
        attr.fragsize = static_cast<std::uint32_t>(-1);
        // Early requests keep the sink's latency at the request size; ADJUST_LATENCY would
        // let the sink render half the queue ahead, where no cut-off can reach it.
        // Connected corked: the first play finds the stream there, and until then it keeps
        // no sink awake.
        corked_ = true;
        if (pa_stream_connect_playback(
                stream_, nullptr, &attr,
                static_cast<pa_stream_flags_t>(PA_STREAM_EARLY_REQUESTS | PA_STREAM_START_CORKED),
                nullptr, nullptr)
                < 0
            || !waitUntil([this] { return pa_stream_get_state(stream_) == PA_STREAM_READY; }))
            return false;

        // The server may round what we asked for.
        const pa_buffer_attr *got = pa_stream_get_buffer_attr(stream_);
        queueFrames_ = (got != nullptr ? got->tlength : attr.tlength) / frameBytes;
        requestFrames_ = (got != nullptr ? got->minreq : attr.minreq) / frameBytes;
        prebufFrames_ = (got != nullptr ? got->prebuf : attr.prebuf) / frameBytes;
        queueFrames_ = std::max<std::size_t>(queueFrames_, requestFrames_);
        buffer_.assign(2 * queueFrames_, 0.f);
        return true;
    }

    void close()
    {
        if (loop_ == nullptr)
            return;
        {
            Locked lock(loop_);
            cancelTimer(retry_);
            cancelTimer(restart_);
            if (stream_ != nullptr) {
                pa_stream_set_state_callback(stream_, nullptr, nullptr);
                pa_stream_set_write_callback(stream_, nullptr, nullptr);
                pa_stream_disconnect(stream_);
                pa_stream_unref(stream_);
                stream_ = nullptr;
            }
            if (context_ != nullptr) {
                pa_context_set_state_callback(context_, nullptr, nullptr);
                pa_context_disconnect(context_);
                pa_context_unref(context_);
                context_ = nullptr;
            }
        }
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }

    // The server asks for `bytes` more: the sound's next frames.
    void fill(std::size_t bytes)
    {
        if (!playing_ || !ready())
            return;
        const std::size_t want = std::min(bytes / frameBytes, queueFrames_);
        write(source_.pull(buffer_.data(), want, false), PA_SEEK_RELATIVE);
    }

    void write(Source::Pulled pulled, pa_seek_mode_t seek)
    {
        std::size_t frames = pulled.frames;
        if (pulled.state == Source::State::Ended || pulled.state == Source::State::Idle) {
            // A last piece shorter than the pre-buffer would wait there after a stall.
            if (frames > 0) {
                const std::size_t tail = std::min(queueFrames_ - frames, prebufFrames_);
                std::fill_n(buffer_.begin() + static_cast<std::ptrdiff_t>(2 * frames), 2 * tail,
                            0.f);
                frames += tail;
            }
            playing_ = false;
        }
        if (frames > 0)
            pa_stream_write(stream_, buffer_.data(), frames * frameBytes, nullptr, 0, seek);
        if (pulled.state == Source::State::Waiting)
            armRetry();
    }

    // Returns at once: the server answers in the background, and the next write or flush
    // is ordered after it.
    void cork(bool corked)
    {
        if (corked == corked_)
            return;
        if (pa_operation *op = pa_stream_cork(stream_, corked ? 1 : 0, nullptr, nullptr))
            pa_operation_unref(op);
        corked_ = corked;
    }

    void armRetry()
    {
        if (retry_ == nullptr)
            retry_ = pa_context_rttime_new(context_, pa_rtclock_now() + retryUsec, onRetry, this);
    }

    void cancelTimer(pa_time_event *&timer)
    {
        if (timer != nullptr)
            pa_threaded_mainloop_get_api(loop_)->time_free(timer);
        timer = nullptr;
    }

    static void onContextState(pa_context *context, void *self)
    {
        auto *out = static_cast<PulseOutput *>(self);
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
            out->failed_.store(true, std::memory_order_release);
        pa_threaded_mainloop_signal(out->loop_, 0);
    }

    static void onStreamState(pa_stream *stream, void *self)
    {
        auto *out = static_cast<PulseOutput *>(self);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
            out->failed_.store(true, std::memory_order_release);
        if (state == PA_STREAM_READY)
            out->tid_ = static_cast<pid_t>(::syscall(SYS_gettid));
        pa_threaded_mainloop_signal(out->loop_, 0);
    }

    static void onServerInfo(pa_context *, const pa_server_info *info, void *self)
    {
        auto *out = static_cast<PulseOutput *>(self);
        if (info != nullptr) {
            out->rate_ = static_cast<int>(info->sample_spec.rate);
            if (info->default_sink_name != nullptr)
                out->defaultSink_ = info->default_sink_name;
        }
        pa_threaded_mainloop_signal(out->loop_, 0);
    }

    static void onSinkInfo(pa_context *, const pa_sink_info *info, int, void *self)
    {
        auto *out = static_cast<PulseOutput *>(self);
        if (info != nullptr)
            out->rate_ = static_cast<int>(info->sample_spec.rate);
        pa_threaded_mainloop_signal(out->loop_, 0);
    }

    static void onWrite(pa_stream *, std::size_t bytes, void *self)
    {
        static_cast<PulseOutput *>(self)->fill(bytes);
    }

    static void onRetry(pa_mainloop_api *api, pa_time_event *event, const timeval *, void *self)
    {
        auto *out = static_cast<PulseOutput *>(self);
        api->time_free(event);
        out->retry_ = nullptr;
        if (out->ready())
            out->fill(
                std::max(pa_stream_writable_size(out->stream_), out->requestFrames_ * frameBytes));
    }

    // On the loop's thread, after restart().
    static void onRestart(pa_mainloop_api *api, pa_time_event *event, const timeval *, void *self)
    {
        auto *out = static_cast<PulseOutput *>(self);
        api->time_free(event);
        out->restart_ = nullptr;
        if (!out->ready())
            return;
        out->cancelTimer(out->retry_);
        // Everything queued goes, however much the server had asked for; the server takes
        // back what the sink rendered ahead where it can, and waits for the pre-buffer.
        if (pa_operation *op = pa_stream_flush(out->stream_, nullptr, nullptr))
            pa_operation_unref(op);
        out->playing_ = true;
        out->write(out->source_.pull(out->buffer_.data(), out->queueFrames_, true),
                   PA_SEEK_RELATIVE_ON_READ);
    }

    static void onTimeout(pa_mainloop_api *, pa_time_event *, const timeval *, void *self)
    {
        auto *out = static_cast<PulseOutput *>(self);
        out->timedOut_ = true;
        pa_threaded_mainloop_signal(out->loop_, 0);
    }

    Source &source_;
    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    pa_stream *stream_ = nullptr;
    pa_time_event *retry_ = nullptr;
    pa_time_event *restart_ = nullptr;
    std::atomic<bool> failed_{false};
    bool timedOut_ = false;
    pid_t tid_ = 0;
    int rate_ = 0;
    std::string defaultSink_;
    std::size_t queueFrames_ = 0;
    std::size_t requestFrames_ = 0;
    std::size_t prebufFrames_ = 0;
    std::vector<float> buffer_;
    bool playing_ = false;
    bool corked_ = false;
};

} // namespace

std::unique_ptr<Output> makePulseOutput(Source &source)
{
    return std::make_unique<PulseOutput>(source);
}

} // namespace bellboard::platform::audio
