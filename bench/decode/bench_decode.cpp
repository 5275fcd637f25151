// Decodes the largest wave file the engine plays (768 kHz, 32 channels, 64-bit integers) to
// 48 kHz stereo, as a decoder thread does, and prints one table; see bench/README.md.
#include "platform/audio/decoder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using bellboard::platform::audio::Decoder;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int outputRate = 48000;
constexpr std::size_t block = 512; // what the engine decodes at a time
constexpr int trials = 3;

struct Shape
{
    std::uint32_t rate;
    std::uint16_t channels;
    std::uint16_t bytes; // per sample, all bits used
    double seconds;
};

void put(std::string &s, std::uint64_t v, int size)
{
    for (int i = 0; i < size; ++i)
        s.push_back(char((v >> (8 * i)) & 0xff));
}

// A WAVE_FORMAT_EXTENSIBLE file: a 0.1 s tone, then silence left as a hole in the file, so
// that a long file costs no disk; decoding silence costs the same as decoding sound.
bool writeFile(const std::string &path, const Shape &shape)
{
    const std::uint64_t frameBytes = std::uint64_t(shape.channels) * shape.bytes;
    const auto frames = std::uint64_t(shape.seconds * shape.rate);
    const std::uint64_t dataBytes = frames * frameBytes;
    if (dataBytes + 80 > 0xFFFFFFFFu)
        return false;
    std::string h = "RIFF";
    put(h, 4 + 48 + 8 + dataBytes, 4);
    h += "WAVEfmt ";
    put(h, 40, 4);
    put(h, 0xFFFE, 2);
    put(h, shape.channels, 2);
    put(h, shape.rate, 4);
    put(h, shape.rate * frameBytes, 4);
    put(h, frameBytes, 2);
    put(h, 8u * shape.bytes, 2);
    put(h, 22, 2);
    put(h, 8u * shape.bytes, 2);
    put(h, 0x3FFFF, 4); // 18 positions; the other channels have none
    put(h, 1, 4);
    h += std::string("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
    h += "data";
    put(h, dataBytes, 4);
    const std::uint64_t toneFrames = shape.rate / 10;
    const int shift = 64 - 8 * shape.bytes;
    for (std::uint64_t f = 0; f < toneFrames; ++f) {
        const double v = 0.5 * std::sin(2 * std::numbers::pi * 1000.0 * double(f) / shape.rate);
        const auto sample = std::uint64_t(std::int64_t(v * 9.2e18)) >> shift;
        for (int c = 0; c < shape.channels; ++c)
            put(h, sample, shape.bytes);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, h.data(), h.size()) == ssize_t(h.size())
                    && ::ftruncate(fd, off_t(44 + 24 + dataBytes)) == 0;
    return ::close(fd) == 0 && ok;
}

long peakKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Run
{
    double speed = 0;       // seconds of sound per second of decoding
    double firstMs = 0;     // open and first block, as before a sound is marked ready
    long growthKb = 0;      // peak RSS growth after the first second
    std::size_t frames = 0; // decoded at the output rate
};

Run decode(const std::string &path)
{
    Run run;
    std::vector<float> out(2 * block);
    const auto start = Clock::now();
    auto decoder = Decoder::open(path, outputRate);
    if (!decoder)
        return run;
    std::size_t got = decoder->read(out.data(), block);
    run.firstMs = ms(Clock::now() - start);
    long peakAfterOneSecond = -1;
    while (got > 0) {
        run.frames += got;
        if (peakAfterOneSecond < 0 && run.frames >= std::size_t(outputRate))
            peakAfterOneSecond = peakKb();
        got = decoder->read(out.data(), block);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.speed = double(run.frames) / outputRate / seconds;
    run.growthKb = peakKb() - peakAfterOneSecond;
    return run;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void row(const char *name, const std::vector<double> &v, bool worstIsLow, const char *unit,
         const char *target, const char *met)
{
    const double worst = worstIsLow ? *std::min_element(v.begin(), v.end())
                                    : *std::max_element(v.begin(), v.end());
    std::printf("| %-46s | %6zu | %9.2f | %9.2f | %-6s | %-19s | %-4s |\n", name, v.size(),
                median(v), worst, unit, target, met);
}

} // namespace

int main()
{
    char folder[] = "/tmp/bench_decode.XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        return 1;
    const std::string largest = std::string(folder) + "/largest.wav";
    const std::string usual = std::string(folder) + "/usual.wav";
    const Shape largestShape{768000, 32, 8, 4.0};
    const bool written
        = writeFile(largest, largestShape) && writeFile(usual, Shape{44100, 2, 2, 1.0});
    std::vector<double> speed, growth, firstLargest, firstUsual;
    // Once untimed, so that the file is in the page cache: this measures the decoder, not the
    // disk (a second of such a file is 196 MB).
    bool decoded = written && decode(largest).frames > 0;
    for (int t = 0; decoded && t < trials; ++t) {
        const Run big = decode(largest);
        const Run small = decode(usual);
        decoded = big.frames == std::size_t(largestShape.seconds * outputRate)
                  && small.frames == std::size_t(outputRate);
        speed.push_back(big.speed);
        growth.push_back(double(big.growthKb));
        firstLargest.push_back(big.firstMs);
        firstUsual.push_back(small.firstMs);
    }
    ::unlink(largest.c_str());
    ::unlink(usual.c_str());
    ::rmdir(folder);
    if (!decoded) {
        std::fprintf(stderr, "bench_decode: the test files did not decode whole\n");
        return 1;
    }

    std::printf("| %-46s | %6s | %9s | %9s | %-6s | %-19s | %-4s |\n", "measure", "trials",
                "median", "worst", "unit", "target", "met");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|\n", std::string(48, '-').c_str(),
                std::string(8, '-').c_str(), std::string(11, '-').c_str(),
                std::string(11, '-').c_str(), std::string(8, '-').c_str(),
                std::string(21, '-').c_str(), std::string(6, '-').c_str());
    const bool ahead = *std::min_element(speed.begin(), speed.end()) > 1.0;
    const bool flat = *std::max_element(growth.begin(), growth.end()) <= 0.0;
    row("768 kHz 32 ch 64-bit to 48 kHz, x real time", speed, true, "x", "> 1",
        ahead ? "yes" : "NO");
    row("  peak RSS growth after its first second", growth, false, "KB", "0 (flat)",
        flat ? "yes" : "NO");
    row("  open and first 512 frames", firstLargest, false, "ms", "reference", "");
    row("44.1 kHz stereo 16-bit: open, first 512 frames", firstUsual, false, "ms", "reference", "");
    return ahead && flat ? 0 : 1;
}
