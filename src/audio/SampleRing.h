// The ring that carries an input's samples from the audio library's thread
// to the reader, and the mixing that fills it.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

namespace vocarine {

// A lock-free ring of mono samples between exactly one producer (the audio
// library's thread) and one consumer (whoever reads the port). Push never
// blocks or allocates; what does not fit is dropped.
class SampleRing {
public:
    explicit SampleRing(std::size_t capacity);
    // Returns the number of samples taken (fewer than `count` when full).
    std::size_t Push(const float* samples, std::size_t count);
    std::size_t Pop(float* out, std::size_t max);
    std::size_t Available() const;
    std::size_t Capacity() const { return buffer_.size(); }

    // Consumer side: throws away what is waiting; returns how much that was.
    std::size_t DiscardAll();
    // Consumer side: the largest absolute sample offered to Push since the
    // last call, also one that did not fit (a level meter's reading).
    float TakePeak();

private:
    std::vector<float> buffer_;
    std::atomic<std::size_t> head_{0};  // written by the producer
    std::atomic<std::size_t> tail_{0};  // written by the consumer
    std::atomic<float> peak_{0.0f};     // raised by the producer, taken by the consumer
};

// Mixes `frames` interleaved frames of `channels` channels to one channel and
// hands them to the ring. Safe on an audio thread: no lock, no allocation.
void PushMixed(SampleRing& ring, const float* input, unsigned frames, unsigned channels);

}  // namespace vocarine
