#pragma once

// Private to platform/: the lock-free queues between the decoder, the controller and the
// audio callback. One producer and one consumer each; neither side ever blocks.

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <memory>

namespace bellboard::platform::audio {

// Interleaved stereo float frames; the capacity is fixed when it is made and never grows.
class FrameRing final
{
public:
    explicit FrameRing(std::size_t capacityFrames)
        : capacity_(std::bit_ceil(capacityFrames)), mask_(capacity_ - 1),
          data_(new float[2 * capacity_])
    {}

    std::size_t capacity() const { return capacity_; }

    // Producer side.
    std::size_t write(const float *frames, std::size_t count)
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t tail = tail_.load(std::memory_order_acquire);
        const std::size_t n = std::min(count, capacity_ - (head - tail));
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t at = 2 * ((head + i) & mask_);
            data_[at] = frames[2 * i];
            data_[at + 1] = frames[2 * i + 1];
        }
        head_.store(head + n, std::memory_order_release);
        return n;
    }

    // Either side.
    std::size_t readable() const
    {
        return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire);
    }

    // Consumer side: copies up to `count` frames into `out`. Returns the frames copied.
    std::size_t read(float *out, std::size_t count)
    {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t head = head_.load(std::memory_order_acquire);
        const std::size_t n = std::min(count, head - tail);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t at = 2 * ((tail + i) & mask_);
            out[2 * i] = data_[at];
            out[2 * i + 1] = data_[at + 1];
        }
        tail_.store(tail + n, std::memory_order_release);
        return n;
    }

private:
    const std::size_t capacity_;
    const std::size_t mask_;
    std::unique_ptr<float[]> data_;
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

// A fixed-size single-producer single-consumer queue of pointers.
template<typename T, std::size_t Capacity>
class PointerQueue final
{
    static_assert((Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

public:
    bool push(T *item)
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) == Capacity)
            return false;
        items_[head & (Capacity - 1)] = item;
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    T *pop()
    {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire))
            return nullptr;
        T *item = items_[tail & (Capacity - 1)];
        tail_.store(tail + 1, std::memory_order_release);
        return item;
    }

private:
    T *items_[Capacity] = {};
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

} // namespace bellboard::platform::audio
