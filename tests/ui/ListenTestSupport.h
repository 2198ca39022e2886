// Takes for the listening tests: sung notes rendered as harmonic tones, and
// an input that delivers whatever a test pushes into it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/AudioInput.h"

namespace listen_testing {

constexpr uint32_t TakeRate = 44100;

// One stretch of a take: a pitch (fractional MIDI key; 0 for silence) held
// for `seconds`.
struct Stretch {
    double midi = 0.0;
    double seconds = 0.0;
};

// A voice-like tone for each stretch (five harmonics, soft edges) at
// `level` of full scale.
std::vector<float> RenderTake(const std::vector<Stretch>& stretches, float level = 0.3f, uint32_t rate = TakeRate);

// The notes of a cell, each held for 0.4 s with 0.1 s of silence after it,
// after 0.3 s of silence; `cents[i]` detunes note i and NaN leaves it out.
std::vector<Stretch> SungCell(const std::vector<int>& midiKeys, const std::vector<double>& cents = {});

// An input the test feeds by hand, on the window's thread.
class PushInput : public vocarine::AudioDevice {
public:
    explicit PushInput(std::string name, uint32_t rate = TakeRate) : name_(std::move(name)), rate_(rate) {}
    std::string Name() const override { return name_; }
    bool Open(vocarine::SampleRing& ring) override;
    void Close() override { ring_ = nullptr; }
    bool IsOpen() const override { return ring_ != nullptr; }
    uint32_t SampleRate() const override { return rate_; }
    bool Failed() const override { return failed_; }
    std::string LastError() const override { return failed_ ? "the device was unplugged" : ""; }
    bool IsDefaultInput() const override { return true; }

    // Pushes what fits into the ring; returns how many samples went in.
    std::size_t Push(const float* samples, std::size_t count);
    void Fail() { failed_ = true; }

private:
    std::string name_;
    uint32_t rate_;
    vocarine::SampleRing* ring_ = nullptr;
    std::atomic<bool> failed_{false};
};

// Pushes a whole take, letting the window read between pushes, so a take
// longer than the ring goes in whole; much faster than real time.
void Sing(PushInput& input, const std::vector<float>& take);

}  // namespace listen_testing
