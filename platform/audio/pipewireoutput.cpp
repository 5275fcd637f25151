// Output straight to PipeWire, with no PulseAudio layer in between.
//
// PipeWire's PulseAudio layer never gives a client less than its minimum quantum (256 or 128
// frames, as the server is configured); a stream of its own may ask for less, so a click
// starts within a few milliseconds. The
// price is that nobody queues for us: the sound is written in the graph's real-time cycle,
// one quantum ahead, so a data thread that is not real-time itself drops out under load.
// open() therefore refuses, and the engine takes the PulseAudio layer, unless that thread
// really runs SCHED_FIFO or SCHED_RR once the stream runs.
//
// Asleep, the stream must neither hold the graph at our small quantum nor keep the sink
// awake, yet wake at once. An inactive stream lets the graph stop, but becoming active
// again takes 80 to 300 ms while another client keeps the graph running at a large
// quantum. So asleep it goes inactive only while no other stream runs; while one does, it
// stays active at a relaxed latency that leaves the graph's quantum as that client set it,
// and a wake only lowers the latency again.
//
// A machine that cannot keep up with the small quantum (the graph ran a cycle without us in
// the middle of a sound: a late wake-up of our real-time thread) gets the next larger one
// once that sound is over, since changing the graph's quantum under a sound may cost a
// cycle itself; up to what the PulseAudio layer would give. After ten minutes without a
// miss the smaller one is tried again.

#include "platform/audio/helpers.h"
#include "platform/audio/output.h"
#include "platform/audio/pipewireconfig.h"

#include <pipewire/pipewire.h>
#include <spa/node/io.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/props.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include <sched.h>

namespace bellboard::platform::audio {

namespace {

// What a playing stream asks of the graph at first; see bench/README.md for how it was
// chosen: the smallest quantum at which a click is heard within 3 ms. PIPEWIRE_LATENCY,
// PipeWire's own override for every client, wins, and is kept whatever happens.
constexpr int playingFrames = 64;
constexpr auto missesForgottenAfter = std::chrono::minutes(10);
// Asleep while another client runs the graph: no smaller than what a relaxed client asks
// for (the graph's largest quantum), so that we never make it run faster.
constexpr const char *restingLatency = "2048/48000";
constexpr int openTimeoutMs = 1800;
constexpr std::size_t frameBytes = 2 * sizeof(float);

using Locked = ScopedLock<pw_thread_loop, pw_thread_loop_lock, pw_thread_loop_unlock>;

// Frames in a "frames/rate" latency at `rate`.
int latencyFrames(const char *latency, int rate)
{
    unsigned frames = 0, denominator = 0;
    if (std::sscanf(latency, "%u/%u", &frames, &denominator) != 2 || frames == 0
        || denominator == 0)
        return 0;
    return static_cast<int>(static_cast<long long>(frames) * rate / denominator);
}

class PipeWireOutput final : public Output
{
public:
    explicit PipeWireOutput(Source &source) : source_(source)
    {
        static const bool initialised = (pw_init(nullptr, nullptr), true);
        (void)initialised;
        const char *wanted = std::getenv("PIPEWIRE_LATENCY");
        fixedLatency_ = wanted != nullptr && latencyFrames(wanted, 48000) > 0;
        playingLatency_ = fixedLatency_ ? wanted : latencyOf(playingFrames);
        playingFrames_ = latencyFrames(playingLatency_.c_str(), 48000);
        // After misses, at most the PulseAudio layer's quantum, past which we gain nothing.
        largestPlayingFrames_ = std::max(pulseLayerMinQuantum(), playingFrames * 2);
    }
    ~PipeWireOutput() override { close(); }
    PipeWireOutput(const PipeWireOutput &) = delete;
    PipeWireOutput &operator=(const PipeWireOutput &) = delete;

    bool open() override
    {
        loop_ = pw_thread_loop_new("bellboard-pipewire", nullptr);
        if (loop_ == nullptr)
            return false;
        // With module-rt, so the data thread is real-time where the limits or rtkit allow.
        // It also keeps the library quiet where no server answers.
        context_
            = pw_context_new(pw_thread_loop_get_loop(loop_),
                             pw_properties_new(PW_KEY_CONFIG_NAME, pipewireClientConfig(),
                                               PW_KEY_APP_NAME, "Bellboard", PW_KEY_APP_ICON_NAME,
                                               "io.github.bellboard.Bellboard", nullptr),
                             0);
        if (context_ == nullptr || pw_thread_loop_start(loop_) < 0)
            return false;
        Locked lock(loop_);
        timespec deadline{};
        pw_thread_loop_get_time(loop_, &deadline, openTimeoutMs * SPA_NSEC_PER_MSEC);
        // Without a socket this fails at once.
        core_ = pw_context_connect(context_, nullptr, 0);
        if (core_ == nullptr)
            return false;
        pw_core_add_listener(core_, &coreListener_, &coreEvents, this);
        registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
        pw_registry_add_listener(registry_, &registryListener_, &registryEvents, this);
        // The globals, then the infos of the nodes bound on the way, then the clock's rate.
        if (!sync(deadline) || !sync(deadline))
            return false;
        // The stream's format, fixed from here on; a later change of the graph's rate makes
        // us reconnect (alive()).
        rate_ = usableRate(clockRate_.load(std::memory_order_relaxed));
        if (!connectStream())
            return false;
        // Decide on what the data thread really got, once it runs. That thread cannot
        // signal us without a lock, so look every few milliseconds.
        while (policy_.load(std::memory_order_acquire) < 0 && !failed()) {
            timespec soon{};
            pw_thread_loop_get_time(loop_, &soon, 2 * SPA_NSEC_PER_MSEC);
            if (soon.tv_sec > deadline.tv_sec
                || (soon.tv_sec == deadline.tv_sec && soon.tv_nsec >= deadline.tv_nsec))
                return false;
            pw_thread_loop_timed_wait_full(loop_, &soon);
        }
        const int policy = policy_.load(std::memory_order_acquire);
        if (failed() || (policy != SCHED_FIFO && policy != SCHED_RR))
            return false;
        awakeWanted_ = false;
        apply();
        return true;
    }

    // A graph whose rate changed under us is played at its new rate by a new stream, not
    // converted by this one.
    bool alive() const override
    {
        const int clockRate = clockRate_.load(std::memory_order_acquire);
        return !failed() && (clockRate == rate_ || usableRate(clockRate) != clockRate);
    }

    void wake() override
    {
        Locked lock(loop_);
        adopted_.store(true, std::memory_order_release);
        awakeWanted_ = true;
        // Long enough without a miss: try the smaller quantum again.
        if (!stepPending_ && !fixedLatency_ && playingFrames_ > playingFrames
            && std::chrono::steady_clock::now() - lastStep_ > missesForgottenAfter)
            setPlayingFrames(playingFrames_ / 2);
        takePendingStep();
        apply();
    }

    void rest() override
    {
        Locked lock(loop_);
        takePendingStep();
        apply();
    }

    void sleep() override
    {
        Locked lock(loop_);
        awakeWanted_ = false;
        apply();
    }

    void restart() override
    {
        Locked lock(loop_);
        adopted_.store(true, std::memory_order_release);
        startNew_.store(true, std::memory_order_release);
        awakeWanted_ = true;
        apply();
    }

    const char *name() const override { return "pipewire"; }
    int rate() const override { return rate_; }
    int periodFrames() const override
    {
        return static_cast<int>(static_cast<long long>(playingFrames_.load()) * rate_ / 48000);
    }
    int queueFrames() const override { return periodFrames(); }

private:
    struct Node
    {
        PipeWireOutput *output = nullptr;
        std::uint32_t id = 0;
        pw_proxy *proxy = nullptr;
        spa_hook listener{};
        bool running = false;
    };

    bool failed() const { return failed_.load(std::memory_order_acquire); }

    static std::string latencyOf(int frames) { return std::to_string(frames) + "/48000"; }

    // With the loop locked; apply() sends it.
    void setPlayingFrames(int frames)
    {
        playingFrames_ = frames;
        playingLatency_ = latencyOf(frames);
        lastStep_ = std::chrono::steady_clock::now();
        latencyChanged_ = true;
    }

    // With the loop locked, when no sound plays.
    void takePendingStep()
    {
        if (!stepPending_)
            return;
        stepPending_ = false;
        setPlayingFrames(std::min(playingFrames_ * 2, largestPlayingFrames_));
    }

    // On the loop, after the data thread saw the graph run cycles without us. One step per
    // sound, and none for misses in the second after a step: those are its own.
    static int onMissed(spa_loop *, bool, std::uint32_t, const void *, std::size_t, void *self)
    {
        auto *out = static_cast<PipeWireOutput *>(self);
        if (!out->fixedLatency_ && out->playingFrames_ < out->largestPlayingFrames_
            && std::chrono::steady_clock::now() - out->lastStep_ >= std::chrono::seconds(1))
            out->stepPending_ = true;
        return 0;
    }

    // Runs with the loop locked; false when the server failed or did not answer in time.
    bool sync(const timespec &deadline)
    {
        const int seq = pw_core_sync(core_, PW_ID_CORE, 0);
        while (doneSeq_ != seq && !failed())
            if (pw_thread_loop_timed_wait_full(loop_, const_cast<timespec *>(&deadline)) != 0)
                return false;
        return !failed();
    }

    bool connectStream()
    {
        pw_properties *props = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE,
            "Production", PW_KEY_MEDIA_NAME, "Pads", PW_KEY_APP_NAME, "Bellboard",
            PW_KEY_APP_ICON_NAME, "io.github.bellboard.Bellboard", PW_KEY_NODE_LATENCY,
            playingLatency_.c_str(), nullptr);
        stream_ = pw_stream_new(core_, "Pads", props);
        if (stream_ == nullptr)
            return false;
        pw_stream_add_listener(stream_, &streamListener_, &streamEvents, this);

        std::uint8_t buffer[512];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_F32;
        info.rate = static_cast<std::uint32_t>(rate_);
        info.channels = 2;
        info.position[0] = SPA_AUDIO_CHANNEL_FL;
        info.position[1] = SPA_AUDIO_CHANNEL_FR;
        const spa_pod *params[]
            = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        // Active at first: the real-time check needs one cycle. No target: the session
        // manager links us to the default sink and moves us when the default changes.
        active_ = true;
        relaxed_ = false;
        return pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                                 static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT
                                                              | PW_STREAM_FLAG_MAP_BUFFERS
                                                              | PW_STREAM_FLAG_RT_PROCESS),
                                 params, 1)
               == 0;
    }

    void close()
    {
        if (loop_ == nullptr)
            return;
        {
            Locked lock(loop_);
            for (auto &[id, node] : nodes_)
                pw_proxy_destroy(node->proxy);
            nodes_.clear();
            if (stream_ != nullptr)
                pw_stream_destroy(stream_); // waits for the data thread: nothing pulls after
            stream_ = nullptr;
            if (registry_ != nullptr)
                pw_proxy_destroy(reinterpret_cast<pw_proxy *>(registry_));
            registry_ = nullptr;
            if (core_ != nullptr)
                pw_core_disconnect(core_);
            core_ = nullptr;
        }
        pw_thread_loop_stop(loop_);
        if (context_ != nullptr)
            pw_context_destroy(context_);
        context_ = nullptr;
        pw_thread_loop_destroy(loop_);
        loop_ = nullptr;
    }

    // With the loop locked: brings the stream to what the engine wants and the graph allows.
    void apply()
    {
        if (stream_ == nullptr || failed())
            return;
        const bool othersRun = std::any_of(nodes_.begin(), nodes_.end(), [this](const auto &n) {
            return n.second->running && n.first != pw_stream_get_node_id(stream_);
        });
        const bool active = awakeWanted_ || othersRun;
        const bool relaxed = !awakeWanted_;
        // The latency first: a stream that becomes active never asks for the small quantum
        // it is not going to use.
        if (relaxed != relaxed_ || (latencyChanged_ && !relaxed)) {
            const spa_dict_item item = SPA_DICT_ITEM_INIT(
                PW_KEY_NODE_LATENCY, relaxed ? restingLatency : playingLatency_.c_str());
            const spa_dict dict = SPA_DICT_INIT(&item, 1);
            pw_stream_update_properties(stream_, &dict);
            relaxed_ = relaxed;
            latencyChanged_ = false;
        }
        if (active != active_) {
            pw_stream_set_active(stream_, active);
            active_ = active;
        }
        // A stream that was inactive resumes with a jump in the clock that is no miss; one
        // at rest misses nothing anyone hears.
        watching_.store(active && !relaxed, std::memory_order_release);
        recount_.store(true, std::memory_order_release);
    }

    // The graph's cycle, on the data thread: no locks, no allocation, no I/O.
    void process()
    {
        if (policy_.load(std::memory_order_relaxed) < 0)
            policy_.store(sched_getscheduler(0) & ~SCHED_RESET_ON_FORK, std::memory_order_release);
        // A miss only counts when it cut into a sound: silence lost is not heard.
        if (const spa_io_position *position = position_.load(std::memory_order_acquire)) {
            const std::uint64_t at = position->clock.position;
            if (!recount_.exchange(false, std::memory_order_acq_rel) && playedLast_
                && watching_.load(std::memory_order_acquire) && at > nextCycle_
                && at - nextCycle_ < 48000)
                pw_loop_invoke(pw_thread_loop_get_loop(loop_), onMissed, 0, nullptr, 0, false,
                               this);
            nextCycle_ = at + position->clock.duration;
        }
        pw_buffer *buffer = pw_stream_dequeue_buffer(stream_);
        if (buffer == nullptr)
            return;
        spa_data &data = buffer->buffer->datas[0];
        auto *out = static_cast<float *>(data.data);
        if (out == nullptr) {
            pw_stream_queue_buffer(stream_, buffer);
            return;
        }
        std::size_t frames = data.maxsize / frameBytes;
        if (buffer->requested > 0)
            frames = std::min<std::size_t>(frames, buffer->requested);
        // Until the engine first wakes us, the output we replace may still be pulling.
        std::size_t got = 0;
        if (adopted_.load(std::memory_order_acquire)) {
            const bool startNew = startNew_.exchange(false, std::memory_order_acq_rel);
            got = source_.pull(out, frames, startNew).frames;
        }
        playedLast_ = got > 0;
        std::fill(out + 2 * got, out + 2 * frames, 0.f);
        data.chunk->offset = 0;
        data.chunk->stride = static_cast<std::int32_t>(frameBytes);
        data.chunk->size = static_cast<std::uint32_t>(frames * frameBytes);
        pw_stream_queue_buffer(stream_, buffer);
    }

    void fail()
    {
        failed_.store(true, std::memory_order_release);
        pw_thread_loop_signal(loop_, false);
    }

    static void onCoreInfo(void *self, const pw_core_info *info)
    {
        auto *out = static_cast<PipeWireOutput *>(self);
        if (info->props == nullptr)
            return;
        if (const char *rate = spa_dict_lookup(info->props, "default.clock.rate"))
            out->clockRate_.store(std::atoi(rate), std::memory_order_release);
    }

    static void onCoreDone(void *self, std::uint32_t id, int seq)
    {
        auto *out = static_cast<PipeWireOutput *>(self);
        if (id == PW_ID_CORE) {
            out->doneSeq_ = seq;
            pw_thread_loop_signal(out->loop_, false);
        }
    }

    static void onCoreError(void *self, std::uint32_t id, int, int, const char *)
    {
        // An error on the core is the connection's end (the server quit or restarted).
        if (id == PW_ID_CORE)
            static_cast<PipeWireOutput *>(self)->fail();
    }

    static void onStreamState(void *self, pw_stream_state, pw_stream_state state, const char *)
    {
        auto *out = static_cast<PipeWireOutput *>(self);
        if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
            out->fail();
        pw_thread_loop_signal(out->loop_, false);
    }

    static void onProcess(void *self) { static_cast<PipeWireOutput *>(self)->process(); }

    static void onIoChanged(void *self, std::uint32_t id, void *area, std::uint32_t)
    {
        if (id == SPA_IO_Position)
            static_cast<PipeWireOutput *>(self)->position_.store(
                static_cast<const spa_io_position *>(area), std::memory_order_release);
    }

    // Other clients' streams, watched so that asleep we know whether the graph runs anyway.
    static void onGlobal(void *self, std::uint32_t id, std::uint32_t, const char *type,
                         std::uint32_t, const spa_dict *props)
    {
        auto *out = static_cast<PipeWireOutput *>(self);
        if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 || props == nullptr)
            return;
        const char *mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
        if (mediaClass == nullptr || std::strncmp(mediaClass, "Stream/", 7) != 0
            || std::strstr(mediaClass, "Audio") == nullptr)
            return;
        auto *proxy = static_cast<pw_proxy *>(
            pw_registry_bind(out->registry_, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
        if (proxy == nullptr)
            return;
        auto node = std::make_unique<Node>();
        node->output = out;
        node->id = id;
        node->proxy = proxy;
        pw_proxy_add_object_listener(proxy, &node->listener, &nodeEvents, node.get());
        out->nodes_[id] = std::move(node);
    }

    static void onGlobalRemove(void *self, std::uint32_t id)
    {
        auto *out = static_cast<PipeWireOutput *>(self);
        const auto it = out->nodes_.find(id);
        if (it == out->nodes_.end())
            return;
        pw_proxy_destroy(it->second->proxy);
        out->nodes_.erase(it);
        out->apply();
    }

    static void onNodeInfo(void *self, const pw_node_info *info)
    {
        auto *node = static_cast<Node *>(self);
        if ((info->change_mask & PW_NODE_CHANGE_MASK_STATE) == 0)
            return;
        const bool running = info->state == PW_NODE_STATE_RUNNING;
        if (running == node->running)
            return;
        node->running = running;
        node->output->apply();
    }

    static constexpr pw_core_events coreEvents = [] {
        pw_core_events events{};
        events.version = PW_VERSION_CORE_EVENTS;
        events.info = onCoreInfo;
        events.done = onCoreDone;
        events.error = onCoreError;
        return events;
    }();
    static constexpr pw_registry_events registryEvents = [] {
        pw_registry_events events{};
        events.version = PW_VERSION_REGISTRY_EVENTS;
        events.global = onGlobal;
        events.global_remove = onGlobalRemove;
        return events;
    }();
    static constexpr pw_node_events nodeEvents = [] {
        pw_node_events events{};
        events.version = PW_VERSION_NODE_EVENTS;
        events.info = onNodeInfo;
        return events;
    }();
    static constexpr pw_stream_events streamEvents = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = onStreamState;
        events.io_changed = onIoChanged;
        events.process = onProcess;
        return events;
    }();

    Source &source_;
    std::string playingLatency_;                    // "frames/48000"
    bool fixedLatency_ = false;                     // the user's, from PIPEWIRE_LATENCY
    std::atomic<int> playingFrames_{playingFrames}; // of playingLatency_, at 48 kHz
    int largestPlayingFrames_ = 0;                  // where steps after misses stop
    bool latencyChanged_ = false;                   // and not sent yet
    bool stepPending_ = false;                      // a miss asks for a larger quantum
    std::chrono::steady_clock::time_point lastStep_{};
    std::atomic<const spa_io_position *> position_{nullptr};
    std::atomic<bool> watching_{false};
    std::atomic<bool> recount_{true};
    std::uint64_t nextCycle_ = 0; // the data thread's: where the next cycle should begin
    bool playedLast_ = false;     // the data thread's: its last cycle had sound
    pw_thread_loop *loop_ = nullptr;
    pw_context *context_ = nullptr;
    pw_core *core_ = nullptr;
    pw_registry *registry_ = nullptr;
    pw_stream *stream_ = nullptr;
    spa_hook coreListener_{};
    spa_hook registryListener_{};
    spa_hook streamListener_{};
    std::map<std::uint32_t, std::unique_ptr<Node>> nodes_;
    std::atomic<bool> failed_{false};
    std::atomic<int> policy_{-1}; // the data thread's, once it ran
    std::atomic<bool> startNew_{false};
    std::atomic<bool> adopted_{false}; // the engine has woken us: the source is ours to pull
    int doneSeq_ = -1;
    int rate_ = 0;                  // the stream's, set before it connects
    std::atomic<int> clockRate_{0}; // the graph's, as the server last said
    bool awakeWanted_ = true;
    bool active_ = false;
    bool relaxed_ = false;
};

} // namespace

std::unique_ptr<Output> makePipeWireOutput(Source &source)
{
    return std::make_unique<PipeWireOutput>(source);
}

} // namespace bellboard::platform::audio
