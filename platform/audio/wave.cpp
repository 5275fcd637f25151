#include "platform/audio/wave.h"

#include "platform/audio/helpers.h"

#include <sndfile.h>

#include <algorithm>
#include <bit>
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

constexpr int minRate = 1000;
constexpr int maxRate = 768000;
// Chunks looked at before the format and the data are found; a file of nothing but tiny
// chunks must not keep a decoder reading its headers for long.
constexpr int maxChunks = 1024;
constexpr std::uint16_t formatPcm = 1;
constexpr std::uint16_t formatExtensible = 0xFFFE;
// The tail that KSDATAFORMAT_SUBTYPE_PCM shares with every format tag made into a GUID.
constexpr unsigned char subtypeTail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

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
        const ssize_t got = retryOnEintr(
            [&] { return ::read(fd, dst + done, static_cast<size_t>(count - done)); });
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

bool readAll(int fd, unsigned char *to, std::size_t size, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = retryOnEintr(
            [&] { return ::pread(fd, to + done, size - done, off_t(offset + done)); });
        if (got <= 0)
            return false;
        done += std::size_t(got);
    }
    return true;
}

// Little- or big-endian fields of a header.
struct Fields
{
    const unsigned char *bytes;
    bool bigEndian;

    std::uint64_t get(std::size_t at, int size) const
    {
        std::uint64_t v = 0;
        for (int i = 0; i < size; ++i) {
            const std::uint64_t b = bytes[at + std::size_t(i)];
            v |= bigEndian ? b << (8 * (size - 1 - i)) : b << (8 * i);
        }
        return v;
    }
    std::uint16_t u16(std::size_t at) const { return std::uint16_t(get(at, 2)); }
    std::uint32_t u32(std::size_t at) const { return std::uint32_t(get(at, 4)); }
    std::uint64_t u64(std::size_t at) const { return get(at, 8); }
};

// What the format and data chunks of a wave file say.
struct Layout
{
    bool bigEndian = false;
    bool haveFormat = false;
    std::uint16_t format = 0; // the subtype's tag for WAVE_FORMAT_EXTENSIBLE
    std::uint32_t channels = 0;
    std::uint32_t rate = 0;
    std::uint32_t blockAlign = 0;
    std::uint32_t bits = 0;      // bits per sample as stated
    std::uint32_t validBits = 0; // WAVE_FORMAT_EXTENSIBLE's, 0 if none
    std::uint32_t channelMask = 0;
    bool haveData = false;
    std::uint64_t dataOffset = 0;
    std::uint64_t dataBytes = 0; // what the file holds of it
};

bool readFormat(const unsigned char *bytes, std::size_t size, Layout &layout)
{
    if (size < 16)
        return false;
    const Fields f{bytes, layout.bigEndian};
    layout.format = f.u16(0);
    layout.channels = f.u16(2);
    layout.rate = f.u32(4);
    layout.blockAlign = f.u16(12);
    layout.bits = f.u16(14);
    if (layout.format == formatExtensible) {
        if (size < 40 || f.u16(16) < 22)
            return false;
        layout.validBits = f.u16(18);
        layout.channelMask = f.u32(20);
        const std::uint32_t subtype = f.u32(24);
        if (subtype > 0xFFFF || f.u16(28) != 0 || f.u16(30) != 0x0010
            || std::memcmp(bytes + 32, subtypeTail, 8) != 0)
            return false;
        layout.format = std::uint16_t(subtype);
    }
    layout.haveFormat = true;
    return true;
}

// Walks the chunks of a RIFF, RIFX, RF64 or Wave64 file up to its format and data chunks.
bool readLayout(int fd, std::uint64_t fileSize, Layout &layout)
{
    unsigned char head[40];
    if (fileSize < 12 || !readAll(fd, head, 12, 0))
        return false;
    const bool wave64 = std::memcmp(head, wave64Riff, 12) == 0;
    const bool rf64 = std::memcmp(head, "RF64", 4) == 0;
    layout.bigEndian = std::memcmp(head, "RIFX", 4) == 0;
    const std::uint64_t headerSize = wave64 ? 24 : 8;
    std::uint64_t at = wave64 ? 40 : 12;
    std::uint64_t rf64DataBytes = 0;
    bool haveRf64Size = false;
    for (int n = 0; n < maxChunks && at + headerSize <= fileSize; ++n) {
        if (!readAll(fd, head, std::size_t(headerSize), at))
            return false;
        const Fields f{head, layout.bigEndian};
        std::uint64_t size;
        bool isFormat;
        bool isData;
        bool isDs64 = false;
        if (wave64) {
            // Chunk GUIDs are the tag followed by the tail of the 'wave' GUID.
            if (f.u64(16) < headerSize)
                return false;
            size = f.u64(16) - headerSize;
            const bool known = std::memcmp(head + 4, wave64Wave + 4, 12) == 0;
            isFormat = known && std::memcmp(head, "fmt ", 4) == 0;
            isData = known && std::memcmp(head, "data", 4) == 0;
        } else {
            size = f.u32(4);
            isFormat = std::memcmp(head, "fmt ", 4) == 0;
            isData = std::memcmp(head, "data", 4) == 0;
            isDs64 = rf64 && std::memcmp(head, "ds64", 4) == 0;
        }
        const std::uint64_t body = at + headerSize;
        const std::uint64_t inFile = fileSize - body;
        if (isDs64) {
            unsigned char ds64[16];
            if (size < 16 || inFile < 16 || !readAll(fd, ds64, 16, body))
                return false;
            rf64DataBytes = Fields{ds64, false}.u64(8);
            haveRf64Size = true;
        } else if (isFormat && !layout.haveFormat) {
            unsigned char format[40] = {};
            const std::size_t want = std::size_t(std::min<std::uint64_t>(size, sizeof format));
            if (want > inFile || !readAll(fd, format, want, body)
                || !readFormat(format, want, layout))
                return false;
        } else if (isData && !layout.haveData) {
            if (rf64 && size == 0xFFFFFFFFu) {
                if (!haveRf64Size)
                    return false;
                size = rf64DataBytes;
            }
            layout.haveData = true;
            layout.dataOffset = body;
            layout.dataBytes = std::min(size, inFile);
        }
        if (layout.haveFormat && layout.haveData)
            return true;
        if (size >= inFile)
            break;
        const std::uint64_t pad = wave64 ? (8 - size % 8) % 8 : size % 2;
        at = body + size + pad;
    }
    return false;
}

Speaker speakerOfMaskBit(int bit)
{
    return bit < int(Speaker::Unknown) ? Speaker(bit) : Speaker::Unknown;
}

std::uint64_t loadLittleEndian64(const unsigned char *p)
{
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap64(v);
    return v;
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
    case Speaker::TopFrontLeft:
    case Speaker::TopBackLeft: return {h, 0.f};
    case Speaker::TopFrontRight:
    case Speaker::TopBackRight: return {0.f, h};
    case Speaker::BackCenter:
    case Speaker::TopCenter:
    case Speaker::TopFrontCenter:
    case Speaker::TopBackCenter:
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
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT: return Speaker::TopFrontLeft;
    case SF_CHANNEL_MAP_TOP_FRONT_CENTER: return Speaker::TopFrontCenter;
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT: return Speaker::TopFrontRight;
    case SF_CHANNEL_MAP_TOP_REAR_LEFT: return Speaker::TopBackLeft;
    case SF_CHANNEL_MAP_TOP_REAR_CENTER: return Speaker::TopBackCenter;
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT: return Speaker::TopBackRight;
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

    // Integer PCM laid out as libsndfile does not read it is read here; libsndfile reads
    // the rest, and refuses what neither can read.
    Layout layout;
    if (readLayout(reader->fd_, std::uint64_t(st.st_size), layout) && layout.format == formatPcm
        && layout.channels > 0 && layout.blockAlign % layout.channels == 0) {
        const std::uint32_t container = layout.blockAlign / layout.channels;
        if (container > 4 || container != (layout.bits + 7) / 8) {
            // The top `bits` of each container are the sample; the rest is padding.
            const std::uint32_t bits = layout.validBits != 0 ? layout.validBits : layout.bits;
            if (container < 1 || container > 8 || bits < 1 || bits > 8 * container
                || layout.bits > 8 * container || layout.channels > Mixdown::maxChannels
                || layout.rate < minRate || layout.rate > maxRate
                || layout.dataBytes < layout.blockAlign)
                return nullptr;
            RawPcm &raw = reader->raw_;
            raw.container = container;
            raw.frameBytes = layout.blockAlign;
            raw.next = layout.dataOffset;
            raw.end = layout.dataOffset + layout.dataBytes / layout.blockAlign * layout.blockAlign;
            raw.keep = ~std::uint64_t(0) << (64 - bits);
            raw.bigEndian = layout.bigEndian;
            raw.offsetBinary = container == 1;
            reader->rate_ = int(layout.rate);
            const int channels = int(layout.channels);
            Speaker speakers[Mixdown::maxChannels];
            defaultSpeakers(channels, speakers);
            if (layout.channelMask != 0) {
                int c = 0;
                for (int bit = 0; bit < 32 && c < channels; ++bit) {
                    if (layout.channelMask & (1u << bit))
                        speakers[c++] = speakerOfMaskBit(bit);
                }
                for (; c < channels; ++c)
                    speakers[c] = Speaker::Unknown;
            }
            reader->mix_ = stereoMixdown(speakers, channels);
            reader->block_.reset(new float[blockFrames * std::size_t(channels)]);
            // Eight spare bytes on each side: every sample is loaded as eight bytes.
            reader->bytes_.reset(new unsigned char[blockFrames * raw.frameBytes + 16]());
            return reader;
        }
    }

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

std::size_t WaveReader::readRaw(float *samples, std::size_t frames)
{
    RawPcm &raw = raw_;
    frames = std::min<std::uint64_t>(frames, (raw.end - raw.next) / raw.frameBytes);
    unsigned char *bytes = bytes_.get() + 8;
    std::size_t got = 0;
    const std::size_t want = frames * raw.frameBytes;
    while (got < want) {
        const ssize_t n = retryOnEintr(
            [&] { return ::pread(fd_, bytes + got, want - got, off_t(raw.next + got)); });
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    frames = got / raw.frameBytes;
    raw.next += frames * raw.frameBytes;
    const std::size_t count = frames * std::size_t(mix_.channels);
    const std::uint64_t flip = raw.offsetBinary ? std::uint64_t(1) << 63 : 0;
    constexpr float scale = 1.f / 9223372036854775808.f; // 2^-63
    // Each sample is read as the eight bytes that end (little-endian) or start (big-endian)
    // with it, so that it lands at the top of 64 bits; `keep` clears whatever came along.
    if (raw.bigEndian) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t v
                = __builtin_bswap64(loadLittleEndian64(bytes + i * raw.container));
            samples[i] = float(std::int64_t((v & raw.keep) ^ flip)) * scale;
        }
    } else {
        const unsigned char *last = bytes + raw.container - 8;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t v = loadLittleEndian64(last + i * raw.container);
            samples[i] = float(std::int64_t((v & raw.keep) ^ flip)) * scale;
        }
    }
    return frames;
}

std::size_t WaveReader::readStereo(float *out, std::size_t frames)
{
    auto *file = static_cast<SNDFILE *>(file_);
    const int channels = mix_.channels;
    std::size_t total = 0;
    while (total < frames) {
        const std::size_t want = std::min(blockFrames, frames - total);
        std::size_t got = 0;
        if (file != nullptr)
            got = std::size_t(std::max<sf_count_t>(
                0, sf_readf_float(file, block_.get(), static_cast<sf_count_t>(want))));
        else
            got = readRaw(block_.get(), want);
        if (got == 0)
            break;
        for (std::size_t f = 0; f < got; ++f) {
            const float *in = block_.get() + f * std::size_t(channels);
            float l = 0.f;
            float r = 0.f;
            for (int c = 0; c < channels; ++c) {
                l += in[c] * mix_.left[std::size_t(c)];
                r += in[c] * mix_.right[std::size_t(c)];
            }
            // Float files may hold anything; keep NaN and overs away from the device.
            l = l == l ? std::clamp(l, -1.f, 1.f) : 0.f;
            r = r == r ? std::clamp(r, -1.f, 1.f) : 0.f;
            out[2 * (total + f)] = l;
            out[2 * (total + f) + 1] = r;
        }
        total += got;
        if (got < want)
            break;
    }
    return total;
}

} // namespace bellboard::platform::audio
