#include "platform/sound.h"

#include "platform/audio/engine.h"
#include "platform/audio/ring.h"
#include "platform/audio/wave.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <time.h>
#include <vector>
#include <sched.h>
#include <semaphore.h>

// Threads:
//  - the caller (the window thread) only drops a request into a slot and bumps a counter;
//  - the controller thread owns SDL: opens, checks and reopens the device, holds it while
//    nothing plays, and starts one decoder thread per sound;
//  - a decoder thread opens and decodes its file into the sound's ring buffer, so a file
//    that stalls holds up nothing but its own thread;
//  - SDL's audio thread runs the callback, which only reads rings and swaps pointers.
// A sound is owned by exactly one of controller or callback at a time (handed over
// through atomic exchanges and a queue), plus its decoder; the last one to let go frees it.

namespace bellboard::platform {

namespace {

using namespace std::chrono_literals;
using audio::FrameRing;
using audio::PointerQueue;
using audio::WaveReader;

// About 340 ms at 48 kHz: slack for a decoder starved by a busy machine, in constant memory.
constexpr std::size_t ringFrames = 16384;
// The callback starts a sound once this much is decoded (or all of it), so a slow first
// read cannot leave a hole right after the start.
constexpr std::size_t prefillFrames = 1024;
constexpr double fadeSeconds = 0.003;
constexpr double periodSeconds = 0.008;
constexpr int fallbackRate = 48000;
// Quiet this long, the device is held (see hold()). At once: a held stream has run dry at
// the server, so the next sound plays without waiting behind a queued period.
constexpr auto holdAfter = 0ms;
// How soon after a sound started on a held device the controller checks that the device
// survived being let go.
constexpr auto recheckAfter = 100ms;
// How long a sound that wakes a held device may take to decode its start.
constexpr auto readyWait = 20ms;

struct Voice final
{
    Voice(std::string p, std::uint64_t g) : path(std::move(p)), generation(g), ring(ringFrames) {}

    const std::string path;
    const std::uint64_t generation;
    FrameRing ring;
    std::atomic<bool> ready{false};
    std::atomic<bool> done{false};
    std::atomic<bool> cancelled{false};
    std::atomic<int> owners{2}; // the decoder, and the controller or callback
};

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
        if (!voice.ready.load(std::memory_order_relaxed)
            && voice.ring.readable() >= prefillFrames)
            voice.ready.store(true, std::memory_order_release);
        if (count > 0) {
            voice.ready.store(true, std::memory_order_release);
            std::this_thread::sleep_for(10ms);
        }
    }
    return true;
}

void decode(Voice *voice, int deviceRate)
{
    if (auto reader = WaveReader::open(voice->path)) {
        constexpr std::size_t block = 512;
        const int sourceRate = reader->sampleRate();
        std::vector<float> in(2 * block);
        SDL_AudioStream *converter = nullptr;
        std::vector<float> out;
        if (sourceRate != deviceRate) {
            converter = SDL_NewAudioStream(AUDIO_F32SYS, 2, sourceRate, AUDIO_F32SYS, 2,
                                           deviceRate);
            out.resize(2 * (block * static_cast<std::size_t>(deviceRate)
                                / static_cast<std::size_t>(sourceRate)
                            + 256));
        }
        const bool convert = converter != nullptr;
        bool alive = convert || sourceRate == deviceRate;
        while (alive) {
            const std::size_t got = reader->readStereo(in.data(), block);
            if (!convert) {
                alive = got > 0 && push(*voice, in.data(), got);
                continue;
            }
            if (got > 0)
                SDL_AudioStreamPut(converter, in.data(), static_cast<int>(got * 2 * sizeof(float)));
            else
                SDL_AudioStreamFlush(converter);
            int bytes;
            while (alive
                   && (bytes = SDL_AudioStreamGet(converter, out.data(),
                                                  static_cast<int>(out.size() * sizeof(float))))
                          > 0)
                alive = push(*voice, out.data(), static_cast<std::size_t>(bytes) / 2 / sizeof(float));
            if (got == 0)
                break;
        }
        if (converter != nullptr)
            SDL_FreeAudioStream(converter);
    }
    voice->done.store(true, std::memory_order_release);
    voice->ready.store(true, std::memory_order_release);
    release(voice);
}

class Engine final
{
public:
    static Engine &instance()
    {
        // Never destroyed: detached decoders and SDL's thread may outlive static destructors.
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

    audio::EngineStats stats() const
    {
        audio::EngineStats s;
        s.callbacks = callbacks_.load(std::memory_order_relaxed);
        s.underruns = underruns_.load(std::memory_order_relaxed);
        s.started = started_.load(std::memory_order_relaxed);
        s.deviceOpens = deviceOpens_.load(std::memory_order_relaxed);
        s.holds = holds_.load(std::memory_order_relaxed);
        s.held = publishedHeld_.load(std::memory_order_relaxed);
        s.deviceRate = publishedRate_.load(std::memory_order_relaxed);
        s.periodFrames = publishedPeriod_.load(std::memory_order_relaxed);
        return s;
    }

    bool active() const { return activeCount_.load(std::memory_order_acquire) > 0; }

private:
    Engine()
    {
        sem_init(&wake_, 0, 0);
        std::thread([this] { control(); }).detach();
    }

    void control()
    {
        for (;;) {
            const bool woken = waitForWork();
            reclaimRetired();
            if (!woken && recheck_) {
                recheck();
                continue;
            }
            if (!woken && device_ != 0 && live_.empty() && !held_) {
                hold();
                continue;
            }
            if (warm_.exchange(false, std::memory_order_acq_rel) && ensureDevice())
                letGo();
            Request *request = pendingRequest_.exchange(nullptr, std::memory_order_acq_rel);
            if (request == nullptr)
                continue;
            play(request->path, request->generation);
            delete request;
        }
    }

    void play(const std::string &path, std::uint64_t generation)
    {
        for (Voice *voice : live_)
            voice->cancelled.store(true, std::memory_order_relaxed);
        if (!ensureDevice())
            return;
        Voice *voice = start(path, generation);
        if (!held_)
            return;
        // The first period SDL writes after the hold starts the stream at the server; let
        // that period carry the sound rather than silence, unless the file is slow to come.
        const auto until = std::chrono::steady_clock::now() + readyWait;
        while (voice != nullptr && !voice->ready.load(std::memory_order_acquire)
               && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(200us);
        letGo();
        recheck_ = Request{path, generation};
        recheckAt_ = std::chrono::steady_clock::now() + recheckAfter;
    }

    // A held device cannot notice that its server went away until it runs again, and then
    // the sound that woke it is lost; play that sound once more on a fresh device.
    void recheck()
    {
        const Request request = std::move(*recheck_);
        recheck_.reset();
        if (device_ != 0 && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED
            && request.generation == requested_.load(std::memory_order_acquire))
            play(request.path, request.generation);
    }

    // False on a timeout: holdAfter of quiet with the device open and running, or the
    // time for a recheck.
    bool waitForWork()
    {
        using std::chrono::steady_clock;
        std::optional<steady_clock::time_point> deadline;
        if (recheck_)
            deadline = recheckAt_;
        else if (device_ != 0 && live_.empty() && !held_)
            deadline = steady_clock::now() + holdAfter;
        if (!deadline) {
            while (sem_wait(&wake_) != 0 && errno == EINTR) {
            }
            return true;
        }
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::max(steady_clock::duration::zero(), *deadline - steady_clock::now()));
        timespec until{};
        clock_gettime(CLOCK_REALTIME, &until);
        const long long ns = until.tv_nsec + wait.count() % 1000000000;
        until.tv_sec += static_cast<time_t>(wait.count() / 1000000000 + ns / 1000000000);
        until.tv_nsec = static_cast<long>(ns % 1000000000);
        for (;;) {
            if (sem_timedwait(&wake_, &until) == 0)
                return true;
            if (errno != EINTR)
                return false;
        }
    }

    // Quiet: stop SDL's audio thread by holding its lock. It then neither renders nor writes,
    // the server lets the stream run dry, and the process costs nothing; pausing would not
    // help, as SDL 2 keeps writing silence every period to a paused device. Letting go is
    // much quicker than opening the device again, and quicker than a running device: the
    // first period goes out at once and plays without a queued period ahead of it.
    void hold()
    {
        SDL_LockAudioDevice(device_);
        held_ = true;
        publishedHeld_.store(true, std::memory_order_relaxed);
        holds_.fetch_add(1, std::memory_order_relaxed);
    }

    void letGo()
    {
        if (!held_)
            return;
        held_ = false;
        publishedHeld_.store(false, std::memory_order_relaxed);
        SDL_UnlockAudioDevice(device_);
    }

    Voice *start(const std::string &path, std::uint64_t generation)
    {
        auto *voice = new Voice(path, generation);
        try {
            std::thread(decode, voice, rate_).detach();
        } catch (const std::system_error &) {
            delete voice;
            return nullptr;
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

    bool ensureDevice()
    {
        // A device whose server went away reports itself stopped; start SDL afresh, since
        // its connection to the server died with it.
        if (device_ != 0 && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED) {
            closeDevice();
            stopSdl();
        }
        if (device_ != 0)
            return true;
        if (!sdlUp_) {
            SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
            // Where the system allows it (rtkit, or the right limits), a late audio thread
            // is what turns into a gap at the speakers.
            SDL_SetHint(SDL_HINT_THREAD_FORCE_REALTIME_TIME_CRITICAL, "1");
            SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Bellboard");
            SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "Pads");
            if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
                return false;
            // Nobody reads SDL's event queue; keep hot-plug events out of it.
            SDL_EventState(SDL_AUDIODEVICEADDED, SDL_IGNORE);
            SDL_EventState(SDL_AUDIODEVICEREMOVED, SDL_IGNORE);
            sdlUp_ = true;
        }
        int rate = fallbackRate;
        SDL_AudioSpec native{};
        if (SDL_GetDefaultAudioInfo(nullptr, &native, 0) == 0 && native.freq >= 8000
            && native.freq <= 192000)
            rate = native.freq;

        SDL_AudioSpec want{};
        want.freq = rate;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        want.samples = static_cast<Uint16>(std::bit_ceil(static_cast<unsigned>(rate * periodSeconds)));
        want.callback = &Engine::callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device_ == 0) {
            stopSdl();
            return false;
        }
        rate_ = have.freq;
        fadeFrames_ = std::max(1, static_cast<int>(rate_ * fadeSeconds));
        publishedRate_.store(rate_, std::memory_order_relaxed);
        publishedPeriod_.store(have.samples, std::memory_order_relaxed);
        deviceOpens_.fetch_add(1, std::memory_order_relaxed);
        realTime_ = false;
        SDL_PauseAudioDevice(device_, 0);
        return true;
    }

    void closeDevice()
    {
        letGo(); // closing joins SDL's audio thread, which waits for the lock
        SDL_CloseAudioDevice(device_); // joins SDL's audio thread: the callback is done
        device_ = 0;
        publishedRate_.store(0, std::memory_order_relaxed);
        reclaimRetired();
        for (Voice **slot : {&current_, &fading_}) {
            if (*slot != nullptr)
                drop(*slot);
            *slot = nullptr;
        }
        if (Voice *unplayed = pending_.exchange(nullptr, std::memory_order_acq_rel))
            drop(unplayed);
    }

    void stopSdl()
    {
        if (sdlUp_)
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        sdlUp_ = false;
    }

    static void SDLCALL callback(void *self, Uint8 *stream, int bytes)
    {
        static_cast<Engine *>(self)->render(reinterpret_cast<float *>(stream),
                                            static_cast<std::size_t>(bytes) / (2 * sizeof(float)));
    }

    // Runs on SDL's audio thread: no locks, no allocation, no I/O.
    void render(float *out, std::size_t frames)
    {
        callbacks_.fetch_add(1, std::memory_order_relaxed);
        if (!realTime_) {
            realTime_ = true;
            raiseToRealTime();
        }
        std::fill(out, out + 2 * frames, 0.f);
        if (Voice *next = pending_.exchange(nullptr, std::memory_order_acq_rel)) {
            fadeOut();
            current_ = next;
        }
        if (current_ != nullptr
            && current_->generation != requested_.load(std::memory_order_acquire))
            fadeOut();

        if (fading_ != nullptr) {
            const std::size_t n = std::min(frames, fadeLeft_);
            const float step = 1.f / static_cast<float>(fadeFrames_);
            fading_->ring.mixInto(out, n, static_cast<float>(fadeLeft_) * step, -step);
            fadeLeft_ -= n;
            if (fadeLeft_ == 0) {
                retire(fading_);
                fading_ = nullptr;
            }
        }

        if (current_ != nullptr && current_->ready.load(std::memory_order_acquire)) {
            // Read `done` before the ring: once it is set, the ring holds the whole rest.
            const bool done = current_->done.load(std::memory_order_acquire);
            if (!startedCurrent_) {
                startedCurrent_ = true;
                started_.fetch_add(1, std::memory_order_relaxed);
            }
            if (current_->ring.mixInto(out, frames) < frames) {
                if (done) {
                    retire(current_);
                    current_ = nullptr;
                } else {
                    underruns_.fetch_add(1, std::memory_order_relaxed);
                }
            }
        }
    }

    // SDL asks rtkit over D-Bus for a real-time audio thread and, where there is none (no
    // session bus, containers), leaves it at normal priority, where a busy core delays it
    // into gaps. Where the process may raise itself (RLIMIT_RTPRIO, root), do it here: one
    // call that neither blocks nor allocates. Priority 5 is what a desktop's sound server
    // runs at.
    static void raiseToRealTime()
    {
        sched_param param{};
        param.sched_priority = 5;
        (void)sched_setscheduler(0, SCHED_RR | SCHED_RESET_ON_FORK, &param);
    }

    void fadeOut()
    {
        if (current_ == nullptr)
            return;
        if (fading_ != nullptr)
            retire(fading_);
        fading_ = current_;
        current_ = nullptr;
        startedCurrent_ = false;
        fadeLeft_ = static_cast<std::size_t>(fadeFrames_);
    }

    void retire(Voice *voice)
    {
        if (voice == current_)
            startedCurrent_ = false;
        if (!retired_.push(voice))
            return; // cannot happen while the controller runs; leaking beats blocking here
        sem_post(&wake_);
    }

    // Shared by every thread.
    sem_t wake_;
    std::atomic<std::uint64_t> requested_{0};
    std::atomic<Request *> pendingRequest_{nullptr};
    std::atomic<bool> warm_{false};
    std::atomic<Voice *> pending_{nullptr};
    PointerQueue<Voice, 64> retired_;
    std::atomic<int> activeCount_{0};
    std::atomic<std::uint64_t> callbacks_{0};
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<std::uint64_t> started_{0};
    std::atomic<std::uint64_t> deviceOpens_{0};
    std::atomic<std::uint64_t> holds_{0};
    std::atomic<bool> publishedHeld_{false};
    std::atomic<int> publishedRate_{0};
    std::atomic<int> publishedPeriod_{0};

    // The controller's.
    bool sdlUp_ = false;
    SDL_AudioDeviceID device_ = 0;
    bool held_ = false;
    std::optional<Request> recheck_;
    std::chrono::steady_clock::time_point recheckAt_;
    int rate_ = fallbackRate;
    std::vector<Voice *> live_;

    // The callback's (and the controller's once the device is closed).
    Voice *current_ = nullptr;
    Voice *fading_ = nullptr;
    bool startedCurrent_ = false;
    bool realTime_ = false;
    int fadeFrames_ = 1;
    std::size_t fadeLeft_ = 0;
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

} // namespace audio

std::int32_t PlaySoundA(const char *name, void *module, std::uint32_t flags)
{
    (void)module;
    (void)flags;
    if (name == nullptr)
        return 0;
    Engine::instance().request(name);
    return 1;
}

} // namespace bellboard::platform
