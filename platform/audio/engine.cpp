#include "platform/audio/engine.h"

#include "platform/audio/decoder.h"
#include "platform/audio/output.h"
#include "platform/audio/ring.h"
#include "platform/sound.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <semaphore.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

// Threads:
//  - the caller (the window thread) only drops a request into a slot and bumps a counter;
//  - the controller thread owns the output: opens it, reopens it when its server went
//    away, and starts one decoder thread per sound;
//  - a decoder thread opens and decodes its file into the sound's ring buffer, so a file
//    that stalls holds up nothing but its own thread. Each is started ahead, after the
//    sound before it, and waits for its file (SpareDecoder);
//  - the output's thread pulls the current sound from its ring (Engine::pull).
// A sound is owned by exactly one of controller or output at a time (handed over through
// atomic exchanges and a queue), plus its decoder; the last one to let go frees it.

namespace bellboard::platform {

namespace {

using namespace std::chrono_literals;
using audio::FrameRing;
using audio::PointerQueue;

// About 340 ms at 48 kHz: more than the output queues at once, in constant memory.
constexpr std::size_t ringFrames = 16384;
// A sound replaces the old one once this much is decoded (or all of it), so that a slow
// first read cannot leave a hole right after its start.
constexpr std::size_t prefillFrames = 512;
// How long a new sound's start may take to decode before the old one is cut off anyway.
constexpr auto readyWait = 20ms;
// How often a play on a fallback output first looks for a sound server.
constexpr auto serverProbeEvery = 5s;
constexpr auto idleSleep = std::chrono::milliseconds(audio::idleSleepMs);

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
    std::atomic<int> owners{2}; // the decoder, and the controller or output
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

// A decoder thread started before its sound is known, so that a click never waits for a
// thread to start. The controller's until it is handed a sound, then its thread's.
struct SpareDecoder final
{
    SpareDecoder() { sem_init(&go, 0, 0); }
    ~SpareDecoder() { sem_destroy(&go); }
    SpareDecoder(const SpareDecoder &) = delete;
    SpareDecoder &operator=(const SpareDecoder &) = delete;

    sem_t go; // posted once `voice` and `deviceRate` are set
    Voice *voice = nullptr;
    int deviceRate = 0;
};

// With a `rehearsal` file, decodes it first and plays none of it (Engine::startSpare).
void runSpare(SpareDecoder *spare, int rehearsal, int outputRate)
{
    if (rehearsal >= 0) {
        auto *voice = new Voice("/proc/self/fd/" + std::to_string(rehearsal), 0);
        decode(voice, outputRate);
        release(voice); // the share a controller would hold: nobody plays it
        ::close(rehearsal);
    }
    while (sem_wait(&spare->go) != 0 && errno == EINTR) {
    }
    Voice *voice = spare->voice;
    const int deviceRate = spare->deviceRate;
    delete spare;
    decode(voice, deviceRate);
}

class Engine final : public audio::Source
{
public:
    static Engine &instance()
    {
        // Never destroyed: detached decoders and the output's thread may outlive static
        // destructors.
        static Engine *engine = new Engine;
        return *engine;
    }

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

    audio::EngineStats stats() const
    {
        audio::EngineStats s;
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
    Engine()
    {
        sem_init(&wake_, 0, 0);
        std::thread([this] { control(); }).detach();
    }

    void control()
    {
        for (;;) {
            waitForWork();
            reclaimRetired();
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
                output_->rest();
                resting_ = true;
                publishedResting_.store(true, std::memory_order_relaxed);
                sleepLater();
            }
            if (awake_ && std::chrono::steady_clock::now() >= sleepAt_) {
                output_->sleep();
                setAwake(false);
                sleeps_.fetch_add(1, std::memory_order_relaxed);
            }
        }
    }

    // Until something is asked of the controller, or, while the output is awake with
    // nothing to play, until it is time for the output to sleep.
    void waitForWork()
    {
        const bool timed = output_ && awake_ && live_.empty();
        if (!timed) {
            while (sem_wait(&wake_) != 0 && errno == EINTR) {
            }
            return;
        }
        // steady_clock is CLOCK_MONOTONIC here.
        const auto ns
            = std::chrono::duration_cast<std::chrono::nanoseconds>(sleepAt_.time_since_epoch())
                  .count();
        const timespec until{static_cast<time_t>(ns / 1000000000),
                             static_cast<long>(ns % 1000000000)};
        while (sem_clockwait(&wake_, CLOCK_MONOTONIC, &until) != 0 && errno == EINTR) {
        }
    }

    // A decoder thread that waits for its sound. With `rehearse` it first decodes a short
    // silent wave held in memory: the program's first decoder otherwise pays, while its
    // click waits, for what only a first one does (its malloc arena, the wave reader's and
    // the resampler's code paged in and bound, their tables built).
    SpareDecoder *startSpare(bool rehearse)
    {
        int rehearsal = -1;
        if (rehearse) {
            // At another rate than the output's, so that the resampler runs too.
            const std::vector<unsigned char> wave
                = silentWave(output_->rate() == 48000 ? 44100 : 48000, 2048);
            rehearsal = memfd_create("bellboard-rehearsal", MFD_CLOEXEC);
            if (rehearsal >= 0
                && ::write(rehearsal, wave.data(), wave.size())
                       != static_cast<ssize_t>(wave.size())) {
                ::close(rehearsal);
                rehearsal = -1;
            }
        }
        auto *spare = new SpareDecoder;
        try {
            std::thread(runSpare, spare, rehearsal, output_->rate()).detach();
        } catch (const std::system_error &) {
            delete spare;
            if (rehearsal >= 0)
                ::close(rehearsal);
            return nullptr;
        }
        return spare;
    }

    // Unless something plays or wakes the output again before then.
    void sleepLater() { sleepAt_ = std::chrono::steady_clock::now() + idleSleep; }

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
        // first frame; the old one plays on meanwhile. A file slow to come gets silence.
        if (voice != nullptr) {
            timespec until{};
            clock_gettime(CLOCK_MONOTONIC, &until);
            until.tv_nsec += std::chrono::nanoseconds(readyWait).count();
            until.tv_sec += until.tv_nsec / 1000000000;
            until.tv_nsec %= 1000000000;
            while (sem_clockwait(&voice->readySignal, CLOCK_MONOTONIC, &until) != 0
                   && errno == EINTR) {
            }
        }
        resting_ = false;
        publishedResting_.store(false, std::memory_order_relaxed);
        wakeOutput();
        output_->restart();
        // The next sound's decoder, now that this one is on its way.
        if (spare_ == nullptr)
            spare_ = startSpare(false);
    }

    // The first backend that opens. An output that stands in for a sound server looks for
    // a better one now and then: the server may have started after us.
    bool ensureOutput()
    {
        if (output_ && !output_->alive())
            closeOutput();
        const auto now = std::chrono::steady_clock::now();
        if (output_ && (!output_->standsInForServer() || now < nextServerProbe_))
            return true;
        const std::size_t better = output_ ? backendIndex_ : std::size(audio::backends);
        for (std::size_t i = 0; i < std::size(audio::backends); ++i) {
            if (output_ && i >= better)
                break;
            std::unique_ptr<audio::Output> candidate = audio::backends[i](*this);
            if (candidate->open()) {
                closeOutput();
                adopt(std::move(candidate), i);
                return true;
            }
        }
        nextServerProbe_ = now + serverProbeEvery;
        return output_ != nullptr;
    }

    void adopt(std::unique_ptr<audio::Output> output, std::size_t backend)
    {
        output_ = std::move(output);
        backendIndex_ = backend;
        resting_ = false;
        setAwake(false); // every output opens asleep
        nextServerProbe_ = std::chrono::steady_clock::now() + serverProbeEvery;
        publishedRate_.store(output_->rate(), std::memory_order_relaxed);
        publishedPeriod_.store(output_->periodFrames(), std::memory_order_relaxed);
        publishedQueue_.store(output_->queueFrames(), std::memory_order_relaxed);
        publishedOutput_.store(output_->name(), std::memory_order_relaxed);
        deviceOpens_.fetch_add(1, std::memory_order_relaxed);
    }

    void closeOutput()
    {
        output_.reset(); // joins the output's thread: nothing pulls any more
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
        auto *voice = new Voice(path, generation);
        if (spare_ != nullptr) {
            spare_->voice = voice;
            spare_->deviceRate = output_->rate();
            sem_post(&spare_->go); // from here on the spare is its thread's
            spare_ = nullptr;
        } else {
            try {
                std::thread(decode, voice, output_->rate()).detach();
            } catch (const std::system_error &) {
                delete voice;
                return nullptr;
            }
        }
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
        while (Voice *voice = retired_.pop())
            drop(voice);
    }

    void retire(Voice *voice)
    {
        if (!retired_.push(voice))
            return; // cannot happen while the controller runs; leaking beats blocking here
        sem_post(&wake_);
    }

    // Shared by every thread.
    sem_t wake_;
    std::atomic<std::uint64_t> requested_{0};
    std::atomic<Request *> pendingRequest_{nullptr};
    std::atomic<bool> warm_{false};
    std::atomic<bool> prepare_{false};
    std::atomic<Voice *> pending_{nullptr};
    PointerQueue<Voice, 64> retired_;
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
    std::unique_ptr<audio::Output> output_;
    std::size_t backendIndex_ = 0;
    std::chrono::steady_clock::time_point nextServerProbe_;
    std::chrono::steady_clock::time_point sleepAt_;
    bool resting_ = false;
    bool awake_ = false;
    std::vector<Voice *> live_;
    SpareDecoder *spare_ = nullptr;

    // The output thread's (and the controller's once the output is closed).
    Voice *current_ = nullptr;
    bool startedCurrent_ = false;
};

} // namespace

namespace audio {

EngineStats engineStats()
{
    return Engine::instance().stats();
}

bool soundActive()
{
    return Engine::instance().active();
}

void warmUp()
{
    Engine::instance().warmUp();
}

void prepare()
{
    Engine::instance().prepare();
}

void play(const char *name)
{
    Engine::instance().request(name);
}

} // namespace audio

} // namespace bellboard::platform
