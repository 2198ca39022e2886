#include "audio/SampleRing.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace vocarine {

SampleRing::SampleRing(std::size_t capacity) : buffer_(std::max<std::size_t>(capacity, 1)) {}

std::size_t SampleRing::Push(const float* samples, std::size_t count)
{
    // The level is taken from everything offered: a meter must show that
    // sound arrives also while nobody reads the ring.
    float loudest = 0.0f;
    for (std::size_t i = 0; i < count; ++i)
        loudest = std::max(loudest, std::fabs(samples[i]));
    float peak = peak_.load(std::memory_order_relaxed);
    while (loudest > peak && !peak_.compare_exchange_weak(peak, loudest, std::memory_order_relaxed)) {
    }

    const std::size_t capacity = buffer_.size();
    const std::size_t head = head_.load(std::memory_order_relaxed);
    const std::size_t tail = tail_.load(std::memory_order_acquire);
    const std::size_t n = std::min(count, capacity - (head - tail));
    if (n == 0)
        return 0;  // also keeps a null `samples` away from memcpy
    const std::size_t start = head % capacity;
    const std::size_t first = std::min(n, capacity - start);
    std::memcpy(buffer_.data() + start, samples, first * sizeof(float));
    std::memcpy(buffer_.data(), samples + first, (n - first) * sizeof(float));
    head_.store(head + n, std::memory_order_release);
    return n;
}

std::size_t SampleRing::Pop(float* out, std::size_t max)
{
    const std::size_t capacity = buffer_.size();
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    const std::size_t head = head_.load(std::memory_order_acquire);
    const std::size_t n = std::min(max, head - tail);
    if (n == 0)
        return 0;
    const std::size_t start = tail % capacity;
    const std::size_t first = std::min(n, capacity - start);
    std::memcpy(out, buffer_.data() + start, first * sizeof(float));
    std::memcpy(out + first, buffer_.data(), (n - first) * sizeof(float));
    tail_.store(tail + n, std::memory_order_release);
    return n;
}

std::size_t SampleRing::Available() const
{
    const std::size_t tail = tail_.load(std::memory_order_acquire);
    return head_.load(std::memory_order_acquire) - tail;
}

std::size_t SampleRing::DiscardAll()
{
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    const std::size_t head = head_.load(std::memory_order_acquire);
    tail_.store(head, std::memory_order_release);
    return head - tail;
}

float SampleRing::TakePeak()
{
    return peak_.exchange(0.0f, std::memory_order_relaxed);
}

// A slice at a time through a buffer on the stack.
void PushMixed(SampleRing& ring, const float* input, unsigned frames, unsigned channels)
{
    constexpr unsigned Slice = 256;
    std::array<float, Slice> mono;
    const float scale = 1.0f / static_cast<float>(channels);
    for (unsigned done = 0; done < frames;) {
        const unsigned n = std::min(Slice, frames - done);
        for (unsigned i = 0; i < n; ++i) {
            float sum = 0.0f;
            for (unsigned c = 0; c < channels; ++c)
                sum += input[(done + i) * channels + c];
            mono[i] = sum * scale;
        }
        ring.Push(mono.data(), n);
        done += n;
    }
}

}  // namespace vocarine
