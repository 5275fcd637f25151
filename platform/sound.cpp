#include "platform/sound.h"

#include <SDL.h>
#include <sndfile.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace bellboard::platform {

namespace {

// First cut: the worker decodes the whole file, then hands it to the callback.
class Player final
{
public:
    Player() : worker_([this] { run(); }) {}

    ~Player()
    {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_one();
        worker_.join();
        if (device_ != 0)
            SDL_CloseAudioDevice(device_);
    }

    void request(std::string path)
    {
        {
            std::lock_guard lock(mutex_);
            pending_ = std::move(path);
        }
        wake_.notify_one();
    }

private:
    void run()
    {
        for (;;) {
            std::string path;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return quit_ || pending_.has_value(); });
                if (quit_)
                    return;
                path = std::move(*pending_);
                pending_.reset();
            }
            stop();
            if (!ensureDevice())
                continue;
            std::vector<float> samples = decode(path);
            SDL_LockAudioDevice(device_);
            samples_ = std::move(samples);
            position_ = 0;
            SDL_UnlockAudioDevice(device_);
        }
    }

    void stop()
    {
        if (device_ == 0)
            return;
        SDL_LockAudioDevice(device_);
        samples_.clear();
        position_ = 0;
        SDL_UnlockAudioDevice(device_);
    }

    bool ensureDevice()
    {
        if (device_ != 0)
            return true;
        if (SDL_WasInit(SDL_INIT_AUDIO) == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            return false;
        SDL_AudioSpec want{};
        want.freq = 48000;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        want.samples = 512;
        want.callback = &Player::callback;
        want.userdata = this;
        device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &spec_, 0);
        if (device_ == 0)
            return false;
        SDL_PauseAudioDevice(device_, 0);
        return true;
    }

    std::vector<float> decode(const std::string &path) const
    {
        SF_INFO info{};
        SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
        if (file == nullptr)
            return {};
        std::vector<float> stereo;
        SDL_AudioStream *stream = SDL_NewAudioStream(AUDIO_F32SYS, 2, info.samplerate,
                                                     AUDIO_F32SYS, 2, spec_.freq);
        if (stream != nullptr && info.channels > 0) {
            std::vector<float> block(static_cast<size_t>(4096 * info.channels));
            std::vector<float> mixed(4096 * 2);
            sf_count_t got;
            while ((got = sf_readf_float(file, block.data(), 4096)) > 0) {
                for (sf_count_t i = 0; i < got; ++i) {
                    const float *in = &block[static_cast<size_t>(i * info.channels)];
                    mixed[static_cast<size_t>(2 * i)] = in[0];
                    mixed[static_cast<size_t>(2 * i + 1)] = info.channels > 1 ? in[1] : in[0];
                }
                SDL_AudioStreamPut(stream, mixed.data(), static_cast<int>(got * 2 * sizeof(float)));
            }
            SDL_AudioStreamFlush(stream);
            stereo.resize(static_cast<size_t>(SDL_AudioStreamAvailable(stream)) / sizeof(float));
            SDL_AudioStreamGet(stream, stereo.data(), static_cast<int>(stereo.size() * sizeof(float)));
        }
        if (stream != nullptr)
            SDL_FreeAudioStream(stream);
        sf_close(file);
        return stereo;
    }

    static void callback(void *userdata, Uint8 *out, int bytes)
    {
        auto *self = static_cast<Player *>(userdata);
        auto *dst = reinterpret_cast<float *>(out);
        const size_t wanted = static_cast<size_t>(bytes) / sizeof(float);
        size_t i = 0;
        for (; i < wanted && self->position_ < self->samples_.size(); ++i)
            dst[i] = self->samples_[self->position_++];
        for (; i < wanted; ++i)
            dst[i] = 0.0f;
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<std::string> pending_;
    bool quit_ = false;

    SDL_AudioDeviceID device_ = 0;
    SDL_AudioSpec spec_{};
    std::vector<float> samples_;
    size_t position_ = 0;

    std::thread worker_;
};

Player &player()
{
    static Player instance;
    return instance;
}

} // namespace

std::int32_t PlaySoundA(const char *name, void *module, std::uint32_t flags)
{
    (void)module;
    (void)flags;
    if (name == nullptr)
        return 0;
    player().request(name);
    return 1;
}

} // namespace bellboard::platform
