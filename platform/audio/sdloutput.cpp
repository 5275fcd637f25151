// Output through SDL2, for systems without a sound server (bare ALSA, or PipeWire without
// its PulseAudio layer). SDL keeps one period queued and cannot take it back, so a new
// sound waits behind at most that period.

#include "platform/audio/output.h"

#include <SDL.h>
#ifdef BELLBOARD_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

#include <algorithm>
#include <bit>

#include <sched.h>

namespace bellboard::platform::audio {

namespace {

constexpr double periodSeconds = 0.008;

#ifdef BELLBOARD_HAVE_ALSA
void ignoreAlsaError(const char *, int, const char *, int, const char *, ...) {}
#endif

// ALSA writes every failed probe (no card, no default device) to the terminal. The program
// has no log, and no card is nothing to report: SDL loads the same library, so its probes
// stay quiet too.
void quietAlsa()
{
#ifdef BELLBOARD_HAVE_ALSA
    snd_lib_error_set_handler(ignoreAlsaError);
#endif
}

class SdlOutput final : public Output
{
public:
    explicit SdlOutput(Source &source) : source_(source) {}
    ~SdlOutput() override
    {
        if (device_ != 0)
            SDL_CloseAudioDevice(device_); // joins SDL's audio thread
        if (sdlUp_)
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    SdlOutput(const SdlOutput &) = delete;
    SdlOutput &operator=(const SdlOutput &) = delete;

    bool open() override
    {
        quietAlsa();
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetHint(SDL_HINT_THREAD_FORCE_REALTIME_TIME_CRITICAL, "1");
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Bellboard");
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "Pads");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            return false;
        sdlUp_ = true;
        // Nobody reads SDL's event queue; keep hot-plug events out of it.
        SDL_EventState(SDL_AUDIODEVICEADDED, SDL_IGNORE);
        SDL_EventState(SDL_AUDIODEVICEREMOVED, SDL_IGNORE);

        SDL_AudioSpec native{};
        const int rate
            = usableRate(SDL_GetDefaultAudioInfo(nullptr, &native, 0) == 0 ? native.freq : 0);
        SDL_AudioSpec want{};
        want.freq = rate;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        want.samples
            = static_cast<Uint16>(std::bit_ceil(static_cast<unsigned>(rate * periodSeconds)));
        want.callback = &SdlOutput::callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device_ == 0)
            return false;
        rate_ = have.freq;
        period_ = have.samples;
        return true; // opened paused: asleep
    }

    bool alive() const override
    {
        // A device whose server or card went away reports itself stopped.
        return device_ != 0 && SDL_GetAudioDeviceStatus(device_) != SDL_AUDIO_STOPPED;
    }

    void wake() override { SDL_PauseAudioDevice(device_, 0); }

    // The callback takes every new sound as it comes.
    void restart() override { wake(); }

    // A paused device no longer calls us; SDL takes its lock only for as long as it takes
    // to flip the flag, between two callbacks.
    void rest() override { SDL_PauseAudioDevice(device_, 1); }
    void sleep() override { SDL_PauseAudioDevice(device_, 1); }

    const char *name() const override { return "sdl"; }
    bool standsInForServer() const override { return true; }
    int rate() const override { return rate_; }
    int periodFrames() const override { return period_; }
    int queueFrames() const override { return period_; }

private:
    // SDL asks rtkit itself where there is a session bus; where the process may raise
    // itself (RLIMIT_RTPRIO, root), do it here: one call that neither blocks nor allocates.
    static void raiseToRealTime()
    {
        sched_param param{};
        param.sched_priority = 5;
        (void)sched_setscheduler(0, SCHED_RR | SCHED_RESET_ON_FORK, &param);
    }

    // SDL's audio thread: no locks, no allocation, no I/O beyond the one priority request.
    static void SDLCALL callback(void *self, Uint8 *stream, int bytes)
    {
        auto *out = static_cast<SdlOutput *>(self);
        if (!out->realTime_) {
            out->realTime_ = true;
            raiseToRealTime();
        }
        auto *frames = reinterpret_cast<float *>(stream);
        const auto count = static_cast<std::size_t>(bytes) / (2 * sizeof(float));
        const Source::Pulled pulled = out->source_.pull(frames, count, true);
        std::fill(frames + 2 * pulled.frames, frames + 2 * count, 0.f);
    }

    Source &source_;
    bool sdlUp_ = false;
    SDL_AudioDeviceID device_ = 0;
    bool realTime_ = false;
    int rate_ = 0;
    int period_ = 0;
};

} // namespace

std::unique_ptr<Output> makeSdlOutput(Source &source)
{
    return std::make_unique<SdlOutput>(source);
}

} // namespace bellboard::platform::audio
