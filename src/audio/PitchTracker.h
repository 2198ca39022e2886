// Pitch tracking of a mono stream: samples in, one pitch frame per hop out.
// Wraps aubio; nothing outside this class sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/Grading.h"

namespace vocarine {

// aubio's YIN methods; the benchmark compares them. YinFast is YIN with its
// difference function computed through the FFT: the same figures as Yin for a
// fraction of the work.
enum class PitchMethod { YinFft, Yin, YinFast };

// The method listening uses (chosen by bench/listen_bench).
constexpr PitchMethod kDefaultPitchMethod = PitchMethod::YinFast;

const char* PitchMethodName(PitchMethod method);

class PitchTracker {
public:
    explicit PitchTracker(uint32_t sampleRate, PitchMethod method = kDefaultPitchMethod);
    ~PitchTracker();
    PitchTracker(const PitchTracker&) = delete;
    PitchTracker& operator=(const PitchTracker&) = delete;

    // Takes any number of mono samples (-1..1) and appends one frame to `out`
    // for every hop completed; silence and breath give frames with midi 0.
    // Frame times count from the first sample fed since construction or Restart;
    // a frame's time is the end of its hop, the moment it is complete.
    void Feed(const float* samples, std::size_t count, PitchTrack& out);

    // Forgets everything fed so far; the next sample is time 0.
    void Restart();

    double HopSeconds() const;
    // Length of the analysis window: a frame describes the last WindowSeconds of sound.
    double WindowSeconds() const;
    // Largest absolute sample since the last Restart (1.0 or more: the take clipped).
    float Peak() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Tracks a whole recording, fed in chunks of `chunk` samples as a device would deliver them.
PitchTrack TrackSamples(const std::vector<float>& samples, uint32_t sampleRate,
                        PitchMethod method = kDefaultPitchMethod, std::size_t chunk = 512,
                        float* peak = nullptr);

}  // namespace vocarine
