#include "platform/audio/engine.h"

#include "platform/audio/decoder.h"
#include "platform/audio/helpers.h"
#include "platform/audio/ring.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

// A sound is owned by exactly one of controller or output at a time (handed over through
// atomic exchanges and the retired list), plus its decoder; the last one to let go frees it.

namespace bellboard::platform::audio {

namespace {

using namespace std::chrono_literals;

// About 340 ms at 48 kHz: more than the output queues at once, in constant memory.
constexpr std::size_t ringFrames = 16384;
// A sound replaces the old one once this much is decoded (or all of it), so that a slow
// first read cannot leave a hole right after its start.
constexpr std::size_t prefillFrames = 512;
// How long a new sound's start may take to decode before the output is restarted anyway.
constexpr auto readyWait = 20ms;
// How often a play on a fallback output first looks for a sound server.
constexpr auto serverProbeEvery = 5s;
constexpr auto idleSleep = std::chrono::milliseconds(idleSleepMs);

struct Voice final
{
    Voice(std::string p, std::uint64_t g) : path(std::move(p)), generation(g), ring(ringFrames)
    {
        sem_init(&readySignal, 0, 0);
    }
    ~Voice() { sem_destroy(&readySignal); }
    Voice(const Voice &) = delete;
    Voice &operator=(const Voice &) = delete;

    const std::string path;
    const std::uint64_t generation;
    FrameRing ring;
    std::atomic<bool> ready{false};
    sem_t readySignal; // posted once, when `ready` is first set
    std::atomic<bool> done{false};
    std::atomic<bool> cancelled{false};
    std::atomic<int> owners{2};   // the decoder, and the controller or output
    Voice *nextRetired = nullptr; // while on the retired list
};

void markReady(Voice &voice)
{
    if (!voice.ready.exchange(true, std::memory_order_acq_rel))
        sem_post(&voice.readySignal);
}

void release(Voice *voice)
{
    if (voice->owners.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete voice;
}

struct Request final
{
    std::string path;
    std::uint64_t generation;
};

// Writes all of `frames` into the ring, waiting for room; false once the sound is cut off.
bool push(Voice &voice, const float *frames, std::size_t count)
{
    while (count > 0) {
        if (voice.cancelled.load(std::memory_order_relaxed))
            return false;
        const std::size_t n = voice.ring.write(frames, count);
        frames += 2 * n;
        count -= n;
        if (count > 0 || voice.ring.readable() >= prefillFrames)
            markReady(voice);
        if (count > 0)
            std::this_thread::sleep_for(10ms);
    }
    return true;
}

void decode(Voice *voice, int deviceRate)
{
    if (auto decoder = audio::Decoder::open(voice->path, deviceRate)) {
        constexpr std::size_t block = 512;
        std::vector<float> out(2 * block);
        std::size_t got;
        while ((got = decoder->read(out.data(), block)) > 0 && push(*voice, out.data(), got)) {
        }
    }
    voice->done.store(true, std::memory_order_release);
    markReady(*voice);
    release(voice);
}

// Sounds the output let go of, for the controller to free: pushed on the output's thread,
// taken all at once by the controller. It never fills up and never allocates, so no sound
// is ever dropped on the way.
class RetiredList final
{
public:
    void push(Voice *voice)
    {
        voice->nextRetired = head_.load(std::memory_order_relaxed);
        while (!head_.compare_exchange_weak(voice->nextRetired, voice, std::memory_order_release,
                                            std::memory_order_relaxed)) {
        }
    }

    // The whole list, newest first.
    Voice *takeAll() { return head_.exchange(nullptr, std::memory_order_acquire); }

private:
    std::atomic<Voice *> head_{nullptr};
};

// A 16-bit stereo wave file of `frames` frames of silence.
std::vector<unsigned char> silentWave(int rate, std::uint32_t frames)
{
    constexpr std::uint32_t frameBytes = 4;
    const std::uint32_t dataBytes = frames * frameBytes;
    std::vector<unsigned char> file(44 + dataBytes, 0);
    std::size_t at = 0;
    auto text = [&](const char *four) {
        std::memcpy(file.data() + at, four, 4);
        at += 4;
    };
    auto le = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            file[at++] = static_cast<unsigned char>(v >> (8 * i));
    };
    text("RIFF");
    le(36 + dataBytes, 4);
    text("WAVE");
    text("fmt ");
    le(16, 4);
    le(1, 2); // PCM
    le(2, 2);
    le(static_cast<std::uint32_t>(rate), 4);
    le(static_cast<std::uint32_t>(rate) * frameBytes, 4);
    le(frameBytes, 2);
    le(16, 2);
    text("data");
    le(dataBytes, 4);
    return file;
}

// A decoder thread, started before its sound is known so that a click never waits for a
// thread to start. The controller's until it is handed a sound, then its thread's until
// `finished`; the controller joins it.
struct DecoderThread final
{
    DecoderThread() { sem_init(&go, 0, 0); }
    ~DecoderThread() { sem_destroy(&go); }
    DecoderThread(const DecoderThread &) = delete;
    DecoderThread &operator=(const DecoderThread &) = delete;

    sem_t go; // posted once `voice` and `deviceRate` are set; no voice: quit
    Voice *voice = nullptr;
    int deviceRate = 0;
    std::atomic<bool> finished{false};
    std::thread thread;
};

// With a `rehearsal` file, decodes it first and plays none of it (Controller::startSpare).
void runDecoder(DecoderThread *self, int rehearsal, int rehearsalRate)
{
    if (rehearsal >= 0) {
        auto *voice = new Voice("/proc/self/fd/" + std::to_string(rehearsal), 0);
        decode(voice, rehearsalRate);
        release(voice); // the share a controller would hold: nobody plays it
        ::close(rehearsal);
    }
    retryOnEintr([self] { return sem_wait(&self->go); });
    if (self->voice != nullptr)
        decode(self->voice, self->deviceRate);
    self->finished.store(true, std::memory_order_release);
}

class SystemClock final : public Clock
{
public:
    TimePoint now() override { return std::chrono::steady_clock::now(); }

    void waitUntil(sem_t &signal, TimePoint until) override
    {
        // steady_clock is CLOCK_MONOTONIC here.
        const auto ns
            = std::chrono::duration_cast<std::chrono::nanoseconds>(until.time_since_epoch())
                  .count();
        const timespec at{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        retryOnEintr([&] { return sem_clockwait(&signal, CLOCK_MONOTONIC, &at); });
    }
};

} // namespace

Clock &Clock::system()
{
    static SystemClock clock;
    return clock;
}

class Engine::Controller final : public Source
{
public:
    Controller(std::vector<OutputFactory> outputs, Clock &clock)
        : outputs_(std::move(outputs)), clock_(clock)
    {
        sem_init(&wake_, 0, 0);
        thread_ = std::thread([this] { control(); });
    }

    ~Controller()
    {
        stopping_.store(true, std::memory_order_release);
        sem_post(&wake_);
        thread_.join();
        delete pendingRequest_.exchange(nullptr, std::memory_order_acq_rel);
        sem_destroy(&wake_);
    }

    Controller(const Controller &) = delete;
    Controller &operator=(const Controller &) = delete;

    void request(const char *name)
    {
        const std::uint64_t generation = requested_.fetch_add(1, std::memory_order_acq_rel) + 1;
        delete pendingRequest_.exchange(new Request{name, generation}, std::memory_order_acq_rel);
        sem_post(&wake_);
    }

    void warmUp()
    {
        warm_.store(true, std::memory_order_release);
        sem_post(&wake_);
    }

    void prepare()
    {
        prepare_.store(true, std::memory_order_release);
        sem_post(&wake_);
    }

    EngineStats stats() const
    {
        EngineStats s;
        s.callbacks = callbacks_.load(std::memory_order_relaxed);
        s.underruns = underruns_.load(std::memory_order_relaxed);
        s.started = started_.load(std::memory_order_relaxed);
        s.deviceOpens = deviceOpens_.load(std::memory_order_relaxed);
        s.held = publishedResting_.load(std::memory_order_relaxed);
        s.asleep = publishedAsleep_.load(std::memory_order_relaxed);
        s.sleeps = sleeps_.load(std::memory_order_relaxed);
        s.deviceRate = publishedRate_.load(std::memory_order_relaxed);
        s.periodFrames = publishedPeriod_.load(std::memory_order_relaxed);
        s.queueFrames = publishedQueue_.load(std::memory_order_relaxed);
        s.output = publishedOutput_.load(std::memory_order_relaxed);
        return s;
    }

    bool active() const { return activeCount_.load(std::memory_order_acquire) > 0; }

    // On the output's thread, one caller at a time: no locks, no allocation, no I/O.
    Pulled pull(float *out, std::size_t frames, bool startNew) override
    {
        callbacks_.fetch_add(1, std::memory_order_relaxed);
        if (startNew) {
            if (Voice *next = pending_.exchange(nullptr, std::memory_order_acq_rel)) {
                if (current_ != nullptr)
                    retire(current_);
                current_ = next;
                startedCurrent_ = false;
            }
        }
        // A newer request is on its way (even one whose file will not play): the old sound
        // stops now rather than when the new one is ready.
        if (current_ != nullptr
            && current_->generation != requested_.load(std::memory_order_acquire)) {
            retire(current_);
            current_ = nullptr;
        }
        if (current_ == nullptr)
            return {0, State::Idle};
        if (!current_->ready.load(std::memory_order_acquire))
            return {0, State::Waiting};
        // Read `done` before the ring: once it is set, the ring holds the whole rest.
        const bool done = current_->done.load(std::memory_order_acquire);
        if (!startedCurrent_) {
            startedCurrent_ = true;
            started_.fetch_add(1, std::memory_order_relaxed);
        }
        const std::size_t got = current_->ring.read(out, frames);
        if (got == frames)
            return {got, State::Playing};
        if (done) {
            retire(current_);
            current_ = nullptr;
            return {got, State::Ended};
        }
        underruns_.fetch_add(1, std::memory_order_relaxed);
        return {got, State::Waiting};
    }

private:
    void control()
    {
        while (!stopping_.load(std::memory_order_acquire)) {
            waitForWork();
            reclaimRetired();
            reapDecoders();
            if (prepare_.exchange(false, std::memory_order_acq_rel) && ensureOutput()
                && spare_ == nullptr)
                spare_ = startSpare(true);
            if (warm_.exchange(false, std::memory_order_acq_rel) && ensureOutput()) {
                wakeOutput();
                sleepLater();
            }
            if (Request *request = pendingRequest_.exchange(nullptr, std::memory_order_acq_rel)) {
                play(request->path, request->generation);
                delete request;
            }
            if (!output_ || !live_.empty())
                continue;
            if (!resting_) {
                sleepLater(); // counted from before the output's call, however long it takes
                output_->rest();
                resting_ = true;
                publishedResting_.store(true, std::memory_order_relaxed);
            }
            if (awake_ && clock_.now() >= sleepAt_) {
                output_->sleep();
                setAwake(false);
                sleeps_.fetch_add(1, std::memory_order_relaxed);
            }
        }
        shutDown();
    }

    // Nothing pulls once the output is gone; every decoder is told to stop, then joined.
    void shutDown()
    {
        closeOutput();
        for (Voice *voice : live_)
            voice->cancelled.store(true, std::memory_order_relaxed);
        while (!live_.empty())
            drop(live_.back());
        if (spare_ != nullptr) {
            sem_post(&spare_->go); // with no voice: quit
            spare_ = nullptr;
        }
        for (const auto &decoder : decoders_)
            decoder->thread.join();
        decoders_.clear();
    }

    // Until something is asked of the controller, or, while the output is awake with
    // nothing to play, until it is time for the output to sleep.
    void waitForWork()
    {
        if (output_ && awake_ && live_.empty())
            clock_.waitUntil(wake_, sleepAt_);
        else
            retryOnEintr([this] { return sem_wait(&wake_); });
    }

    // A decoder thread that waits for its sound. With `rehearse` it first decodes a short
    // silent wave held in memory: the program's first decoder otherwise pays, while its
    // click waits, for what only a first one does (its malloc arena, the wave reader's and
    // the resampler's code paged in and bound, their tables built).
    DecoderThread *startSpare(bool rehearse)
    {
        int rehearsal = -1;
        // At another rate than the output's, so that the resampler runs too.
        const int rehearsalRate = output_->rate() == 48000 ? 44100 : 48000;
        if (rehearse) {
            const std::vector<unsigned char> wave = silentWave(rehearsalRate, 2048);
            rehearsal = memfd_create("bellboard-rehearsal", MFD_CLOEXEC);
            if (rehearsal >= 0
                && ::write(rehearsal, wave.data(), wave.size())
                       != static_cast<ssize_t>(wave.size())) {
                ::close(rehearsal);
                rehearsal = -1;
            }
        }
        auto decoder = std::make_unique<DecoderThread>();
        try {
            decoder->thread = std::thread(runDecoder, decoder.get(), rehearsal, output_->rate());
        } catch (const std::system_error &) {
            if (rehearsal >= 0)
                ::close(rehearsal);
            return nullptr;
        }
        decoders_.push_back(std::move(decoder));
        return decoders_.back().get();
    }

    // Joins the decoders that are done; a decoder stuck in a stalled read stays listed.
    void reapDecoders()
    {
        std::erase_if(decoders_, [](const std::unique_ptr<DecoderThread> &decoder) {
            if (!decoder->finished.load(std::memory_order_acquire))
                return false;
            decoder->thread.join();
            return true;
        });
    }

    // Unless something plays or wakes the output again before then.
    void sleepLater() { sleepAt_ = clock_.now() + idleSleep; }

    void wakeOutput()
    {
        if (awake_)
            return;
        output_->wake();
        setAwake(true);
    }

    void setAwake(bool awake)
    {
        awake_ = awake;
        publishedAsleep_.store(!awake, std::memory_order_relaxed);
    }

    void play(const std::string &path, std::uint64_t generation)
    {
        for (Voice *voice : live_)
            voice->cancelled.store(true, std::memory_order_relaxed);
        if (!ensureOutput())
            return;
        Voice *voice = start(path, generation);
        // Let the new sound's start be decoded, so that it replaces the old one from its
        // first frame. The old one is already silent: the output's next pull let go of it,
        // as its request is no longer the newest. A file slow to come gets silence.
        if (voice != nullptr)
            clock_.waitUntil(voice->readySignal, clock_.now() + readyWait);
        resting_ = false;
        publishedResting_.store(false, std::memory_order_relaxed);
        wakeOutput();
        output_->restart();
        // The next sound's decoder, now that this one is on its way.
        if (spare_ == nullptr)
            spare_ = startSpare(false);
    }

    // The first output that opens. An output that stands in for a sound server looks for
    // a better one now and then: the server may have started after us.
    bool ensureOutput()
    {
        if (output_ && !output_->alive())
            closeOutput();
        const auto now = clock_.now();
        if (output_ && (!output_->standsInForServer() || now < nextServerProbe_))
            return true;
        const std::size_t better = output_ ? outputIndex_ : outputs_.size();
        for (std::size_t i = 0; i < outputs_.size(); ++i) {
            if (output_ && i >= better)
                break;
            std::unique_ptr<Output> candidate = outputs_[i](*this);
            if (candidate && candidate->open()) {
                closeOutput();
                adopt(std::move(candidate), i);
                return true;
            }
        }
        nextServerProbe_ = now + serverProbeEvery;
        return output_ != nullptr;
    }

    void adopt(std::unique_ptr<Output> output, std::size_t index)
    {
        output_ = std::move(output);
        outputIndex_ = index;
        resting_ = false;
        setAwake(false); // every output opens asleep
        nextServerProbe_ = clock_.now() + serverProbeEvery;
        publishedRate_.store(output_->rate(), std::memory_order_relaxed);
        publishedPeriod_.store(output_->periodFrames(), std::memory_order_relaxed);
        publishedQueue_.store(output_->queueFrames(), std::memory_order_relaxed);
        publishedOutput_.store(output_->name(), std::memory_order_relaxed);
        deviceOpens_.fetch_add(1, std::memory_order_relaxed);
    }

    void closeOutput()
    {
        output_.reset(); // nothing pulls any more (Output's destructor)
        publishedRate_.store(0, std::memory_order_relaxed);
        publishedOutput_.store(nullptr, std::memory_order_relaxed);
        reclaimRetired();
        if (current_ != nullptr)
            drop(current_);
        current_ = nullptr;
        if (Voice *unplayed = pending_.exchange(nullptr, std::memory_order_acq_rel))
            drop(unplayed);
    }

    Voice *start(const std::string &path, std::uint64_t generation)
    {
        if (spare_ == nullptr && (spare_ = startSpare(false)) == nullptr)
            return nullptr;
        auto *voice = new Voice(path, generation);
        spare_->voice = voice;
        spare_->deviceRate = output_->rate();
        sem_post(&spare_->go); // from here on the decoder is its thread's
        spare_ = nullptr;
        live_.push_back(voice);
        activeCount_.fetch_add(1, std::memory_order_acq_rel);
        if (Voice *unplayed = pending_.exchange(voice, std::memory_order_acq_rel))
            drop(unplayed);
        return voice;
    }

    // The controller lets go of a sound that it owns again.
    void drop(Voice *voice)
    {
        voice->cancelled.store(true, std::memory_order_relaxed);
        live_.erase(std::remove(live_.begin(), live_.end(), voice), live_.end());
        activeCount_.fetch_sub(1, std::memory_order_acq_rel);
        release(voice);
    }

    void reclaimRetired()
    {
        for (Voice *voice = retired_.takeAll(); voice != nullptr;) {
            Voice *next = voice->nextRetired;
            drop(voice);
            voice = next;
        }
    }

    // On the output's thread.
    void retire(Voice *voice)
    {
        retired_.push(voice);
        sem_post(&wake_);
    }

    const std::vector<OutputFactory> outputs_;
    Clock &clock_;
    std::thread thread_;

    // Shared by every thread.
    sem_t wake_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> requested_{0};
    std::atomic<Request *> pendingRequest_{nullptr};
    std::atomic<bool> warm_{false};
    std::atomic<bool> prepare_{false};
    std::atomic<Voice *> pending_{nullptr};
    RetiredList retired_;
    std::atomic<int> activeCount_{0};
    std::atomic<std::uint64_t> callbacks_{0};
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<std::uint64_t> started_{0};
    std::atomic<std::uint64_t> deviceOpens_{0};
    std::atomic<bool> publishedResting_{false};
    std::atomic<bool> publishedAsleep_{false};
    std::atomic<std::uint64_t> sleeps_{0};
    std::atomic<int> publishedRate_{0};
    std::atomic<int> publishedPeriod_{0};
    std::atomic<int> publishedQueue_{0};
    std::atomic<const char *> publishedOutput_{nullptr};

    // The controller's.
    std::unique_ptr<Output> output_;
    std::size_t outputIndex_ = 0;
    Clock::TimePoint nextServerProbe_;
    Clock::TimePoint sleepAt_;
    bool resting_ = false;
    bool awake_ = false;
    std::vector<Voice *> live_;
    std::vector<std::unique_ptr<DecoderThread>> decoders_;
    DecoderThread *spare_ = nullptr;

    // The output thread's (and the controller's once the output is closed).
    Voice *current_ = nullptr;
    bool startedCurrent_ = false;
};

Engine::Engine(std::vector<OutputFactory> outputs, Clock &clock)
    : controller_(std::make_unique<Controller>(std::move(outputs), clock))
{}

Engine::~Engine() = default;

void Engine::play(const char *name)
{
    controller_->request(name);
}

void Engine::prepare()
{
    controller_->prepare();
}

void Engine::warmUp()
{
    controller_->warmUp();
}

EngineStats Engine::stats() const
{
    return controller_->stats();
}

bool Engine::active() const
{
    return controller_->active();
}

} // namespace bellboard::platform::audio
