#include "platform/audio/wave.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bellboard::platform::audio {

namespace {

constexpr unsigned char wave64Riff[16]
    = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
constexpr unsigned char wave64Wave[16]
    = {'w', 'a', 'v', 'e', 0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};

constexpr int minRate = 8000;
constexpr int maxRate = 192000;

// sndfile reads through our descriptor, so it never opens the path a second time and the
// descriptor is closed exactly once, whatever happens inside sf_open_virtual.
sf_count_t vioLength(void *user)
{
    struct stat st = {};
    if (::fstat(*static_cast<int *>(user), &st) != 0)
        return -1;
    return st.st_size;
}

sf_count_t vioSeek(sf_count_t offset, int whence, void *user)
{
    return ::lseek(*static_cast<int *>(user), offset, whence);
}

sf_count_t vioRead(void *ptr, sf_count_t count, void *user)
{
    const int fd = *static_cast<int *>(user);
    auto *dst = static_cast<char *>(ptr);
    sf_count_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, dst + done, static_cast<size_t>(count - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += got;
    }
    return done;
}

sf_count_t vioWrite(const void *, sf_count_t, void *)
{
    return 0;
}

sf_count_t vioTell(void *user)
{
    return ::lseek(*static_cast<int *>(user), 0, SEEK_CUR);
}

struct Gains
{
    float left;
    float right;
};

Gains gainsOf(Speaker s)
{
    constexpr float h = 0.70710678f;
    switch (s) {
    case Speaker::FrontLeft: return {1.f, 0.f};
    case Speaker::FrontRight: return {0.f, 1.f};
    case Speaker::FrontCenter: return {h, h};
    case Speaker::Lfe: return {0.f, 0.f};
    case Speaker::BackLeft:
    case Speaker::SideLeft: return {h, 0.f};
    case Speaker::BackRight:
    case Speaker::SideRight: return {0.f, h};
    case Speaker::FrontLeftOfCenter: return {0.92f, 0.38f};
    case Speaker::FrontRightOfCenter: return {0.38f, 0.92f};
    case Speaker::BackCenter:
    case Speaker::TopCenter:
    case Speaker::Unknown: return {0.5f, 0.5f};
    }
    return {0.5f, 0.5f};
}

Speaker speakerOf(int sfChannel)
{
    switch (sfChannel) {
    case SF_CHANNEL_MAP_MONO:
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER: return Speaker::FrontCenter;
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT: return Speaker::FrontLeft;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT: return Speaker::FrontRight;
    case SF_CHANNEL_MAP_LFE: return Speaker::Lfe;
    case SF_CHANNEL_MAP_REAR_LEFT: return Speaker::BackLeft;
    case SF_CHANNEL_MAP_REAR_RIGHT: return Speaker::BackRight;
    case SF_CHANNEL_MAP_REAR_CENTER: return Speaker::BackCenter;
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER: return Speaker::FrontLeftOfCenter;
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER: return Speaker::FrontRightOfCenter;
    case SF_CHANNEL_MAP_SIDE_LEFT: return Speaker::SideLeft;
    case SF_CHANNEL_MAP_SIDE_RIGHT: return Speaker::SideRight;
    case SF_CHANNEL_MAP_TOP_CENTER: return Speaker::TopCenter;
    default: return Speaker::Unknown;
    }
}

} // namespace

bool isWaveHeader(const unsigned char *bytes, std::size_t size)
{
    if (size >= 12 && std::memcmp(bytes + 8, "WAVE", 4) == 0
        && (std::memcmp(bytes, "RIFF", 4) == 0 || std::memcmp(bytes, "RIFX", 4) == 0
            || std::memcmp(bytes, "RF64", 4) == 0))
        return true;
    return size >= 40 && std::memcmp(bytes, wave64Riff, 16) == 0
           && std::memcmp(bytes + 24, wave64Wave, 16) == 0;
}

void defaultSpeakers(int count, Speaker *speakers)
{
    using S = Speaker;
    static constexpr S layouts[8][8] = {
        {S::FrontCenter},
        {S::FrontLeft, S::FrontRight},
        {S::FrontLeft, S::FrontRight, S::FrontCenter},
        {S::FrontLeft, S::FrontRight, S::BackLeft, S::BackRight},
        {S::FrontLeft, S::FrontRight, S::FrontCenter, S::BackLeft, S::BackRight},
        {S::FrontLeft, S::FrontRight, S::FrontCenter, S::Lfe, S::BackLeft, S::BackRight},
        {S::FrontLeft, S::FrontRight, S::FrontCenter, S::Lfe, S::BackCenter, S::SideLeft,
         S::SideRight},
        {S::FrontLeft, S::FrontRight, S::FrontCenter, S::Lfe, S::BackLeft, S::BackRight,
         S::SideLeft, S::SideRight},
    };
    for (int i = 0; i < count; ++i)
        speakers[i] = (count >= 1 && count <= 8) ? layouts[count - 1][i] : Speaker::Unknown;
}

Mixdown stereoMixdown(const Speaker *speakers, int count)
{
    Mixdown m;
    m.channels = count;
    float sumLeft = 0.f;
    float sumRight = 0.f;
    for (int i = 0; i < count; ++i) {
        const Gains g = gainsOf(speakers[i]);
        m.left[i] = g.left;
        m.right[i] = g.right;
        sumLeft += g.left;
        sumRight += g.right;
    }
    // A side that no channel reaches (say, only an LFE channel) hears every channel equally.
    for (int i = 0; i < count; ++i) {
        m.left[i] = sumLeft > 0.f ? m.left[i] / sumLeft : 1.f / float(count);
        m.right[i] = sumRight > 0.f ? m.right[i] / sumRight : 1.f / float(count);
    }
    return m;
}

WaveReader::~WaveReader()
{
    if (file_ != nullptr)
        sf_close(static_cast<SNDFILE *>(file_));
    if (fd_ >= 0)
        ::close(fd_);
}

std::unique_ptr<WaveReader> WaveReader::open(const std::string &path)
{
    std::unique_ptr<WaveReader> reader(new WaveReader);
    // O_NONBLOCK so that a named pipe without a writer cannot hold us in open().
    reader->fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (reader->fd_ < 0)
        return nullptr;
    struct stat st = {};
    if (::fstat(reader->fd_, &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    unsigned char head[40];
    const ssize_t got = ::pread(reader->fd_, head, sizeof head, 0);
    if (got <= 0 || !isWaveHeader(head, static_cast<std::size_t>(got)))
        return nullptr;

    static SF_VIRTUAL_IO io = {vioLength, vioSeek, vioRead, vioWrite, vioTell};
    SF_INFO info{};
    SNDFILE *file = sf_open_virtual(&io, SFM_READ, &info, &reader->fd_);
    if (file == nullptr)
        return nullptr;
    reader->file_ = file;

    const int type = info.format & SF_FORMAT_TYPEMASK;
    if (type != SF_FORMAT_WAV && type != SF_FORMAT_WAVEX && type != SF_FORMAT_RF64
        && type != SF_FORMAT_W64)
        return nullptr;
    if (info.channels < 1 || info.channels > Mixdown::maxChannels || info.samplerate < minRate
        || info.samplerate > maxRate || info.frames <= 0)
        return nullptr;

    reader->rate_ = info.samplerate;
    Speaker speakers[Mixdown::maxChannels];
    int map[Mixdown::maxChannels] = {};
    if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map, sizeof(int) * info.channels) == SF_TRUE) {
        for (int i = 0; i < info.channels; ++i)
            speakers[i] = speakerOf(map[i]);
    } else {
        defaultSpeakers(info.channels, speakers);
    }
    reader->mix_ = stereoMixdown(speakers, info.channels);
    reader->block_.reset(new float[blockFrames * static_cast<std::size_t>(info.channels)]);
    return reader;
}

std::size_t WaveReader::readStereo(float *out, std::size_t frames)
{
    auto *file = static_cast<SNDFILE *>(file_);
    const int channels = mix_.channels;
    std::size_t total = 0;
    while (total < frames) {
        const std::size_t want = std::min(blockFrames, frames - total);
        const sf_count_t got = sf_readf_float(file, block_.get(), static_cast<sf_count_t>(want));
        if (got <= 0)
            break;
        for (sf_count_t f = 0; f < got; ++f) {
            const float *in = block_.get() + f * channels;
            float l = 0.f;
            float r = 0.f;
            for (int c = 0; c < channels; ++c) {
                l += in[c] * mix_.left[c];
                r += in[c] * mix_.right[c];
            }
            // Float files may hold anything; keep NaN and overs away from the device.
            l = l == l ? std::clamp(l, -1.f, 1.f) : 0.f;
            r = r == r ? std::clamp(r, -1.f, 1.f) : 0.f;
            out[2 * (total + static_cast<std::size_t>(f))] = l;
            out[2 * (total + static_cast<std::size_t>(f)) + 1] = r;
        }
        total += static_cast<std::size_t>(got);
        if (static_cast<std::size_t>(got) < want)
            break;
    }
    return total;
}

} // namespace bellboard::platform::audio
