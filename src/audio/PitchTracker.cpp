#include "audio/PitchTracker.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace vocarine {
namespace {

// The lowest pitch listened for is about 100 Hz (a little under MIDI 45, A2),
// so the window holds two periods of it; anything longer only adds lag.
constexpr double kLowestHz = 100.0;
// At most this long between frames.
constexpr double kHopSeconds = 0.005;
// Below this level (dB of full scale, over one hop) the frame is silence.
constexpr double kLevelGateDb = -50.0;
// Frames with pitches outside this range are taken as unvoiced.
constexpr double kLowestMidi = 36.0;
constexpr double kHighestMidi = 96.0;

// The voicing gate of each method. aubio's yinfft reports no usable confidence
// for pitches under 1300 Hz (it reads its difference function at lag 0), but
// gives no pitch at all when its difference function dips nowhere below the
// tolerance: the tolerance is its gate. yin always gives a pitch, with a
// confidence that gates it; its tolerance picks the first dip deep enough to be
// the period, and a low one keeps it from taking the octave above.
// (listen_bench chose these figures on the evaluation takes.)
double Tolerance(PitchMethod method)
{
    return method == PitchMethod::YinFft ? 0.70 : 0.10;
}
double ConfidenceGate(PitchMethod method)
{
    return method == PitchMethod::YinFft ? -1.0 : 0.80;
}

uint32_t WindowFor(PitchMethod method, uint32_t rate)
{
    const uint32_t wanted = static_cast<uint32_t>(std::ceil(2.0 * rate / kLowestHz));
    if (method != PitchMethod::YinFft) {
        return wanted + (wanted & 1u);
    }
    // yinfft weighs its spectrum by bins of a power-of-two FFT.
    uint32_t size = 256;
    while (size < wanted) size *= 2;
    return size;
}

}  // namespace

const char* PitchMethodName(PitchMethod method) {
    switch (method) {
    case PitchMethod::YinFft:
        return "yinfft";
    case PitchMethod::Yin:
        return "yin";
    case PitchMethod::YinFast:
        return "yinfast";
    }
    return "yin";
}

struct PitchTracker::Impl {
    uint32_t rate = 0;
    PitchMethod method = PitchMethod::YinFft;
    uint32_t window = 0;
    uint32_t hop = 0;
    aubio_pitch_t* pitch = nullptr;
    fvec_t* in = nullptr;
    fvec_t* out = nullptr;
    uint32_t filled = 0;      // samples of the current hop gathered in `in`
    uint64_t hopsDone = 0;
    float peak = 0.0f;

    void Create() {
        pitch = new_aubio_pitch(PitchMethodName(method), window, hop, rate);
        if (!pitch) throw std::runtime_error("aubio cannot track pitch at this sample rate");
        aubio_pitch_set_unit(pitch, "midi");
        // The level gate below decides silence; aubio's own one stays out of the way.
        aubio_pitch_set_silence(pitch, -120.0f);
        aubio_pitch_set_tolerance(pitch, static_cast<smpl_t>(Tolerance(method)));
    }
    void Destroy() {
        if (pitch) del_aubio_pitch(pitch);
        pitch = nullptr;
    }
};

PitchTracker::PitchTracker(uint32_t sampleRate, PitchMethod method) : impl_(std::make_unique<Impl>()) {
    if (sampleRate < 8000) throw std::invalid_argument("sample rate too low for pitch tracking");
    impl_->rate = sampleRate;
    impl_->method = method;
    impl_->window = WindowFor(method, sampleRate);
    impl_->hop = static_cast<uint32_t>(std::floor(sampleRate * kHopSeconds));
    impl_->Create();
    impl_->in = new_fvec(impl_->hop);
    impl_->out = new_fvec(1);
}

PitchTracker::~PitchTracker() {
    impl_->Destroy();
    if (impl_->in) del_fvec(impl_->in);
    if (impl_->out) del_fvec(impl_->out);
}

void PitchTracker::Feed(const float* samples, std::size_t count, PitchTrack& out) {
    Impl& m = *impl_;
    smpl_t* hopData = fvec_get_data(m.in);
    const double gate = std::pow(10.0, kLevelGateDb / 20.0);
    const double gateSquared = gate * gate;
    for (std::size_t i = 0; i < count; ++i) {
        const float s = samples[i];
        m.peak = std::max(m.peak, std::fabs(s));
        hopData[m.filled++] = s;
        if (m.filled < m.hop) continue;
        m.filled = 0;
        aubio_pitch_do(m.pitch, m.in, m.out);
        ++m.hopsDone;
        double energy = 0.0;
        for (uint32_t k = 0; k < m.hop; ++k) energy += static_cast<double>(hopData[k]) * hopData[k];
        energy /= m.hop;
        const double midi = fvec_get_sample(m.out, 0);
        const double confidence = aubio_pitch_get_confidence(m.pitch);
        const bool voiced = energy >= gateSquared && midi > 0.0 && confidence >= ConfidenceGate(m.method) &&
                            midi >= kLowestMidi && midi <= kHighestMidi;
        PitchFrame frame;
        frame.time = static_cast<double>(m.hopsDone * m.hop) / m.rate;
        frame.midi = voiced ? midi : 0.0;
        out.push_back(frame);
    }
}

void PitchTracker::Restart() {
    Impl& m = *impl_;
    m.Destroy();
    m.Create();
    m.filled = 0;
    m.hopsDone = 0;
    m.peak = 0.0f;
}

double PitchTracker::HopSeconds() const { return static_cast<double>(impl_->hop) / impl_->rate; }

double PitchTracker::WindowSeconds() const { return static_cast<double>(impl_->window) / impl_->rate; }

float PitchTracker::Peak() const { return impl_->peak; }

PitchTrack TrackSamples(const std::vector<float>& samples, uint32_t sampleRate, PitchMethod method,
                        std::size_t chunk, float* peak)
{
    PitchTracker tracker(sampleRate, method);
    PitchTrack track;
    track.reserve(static_cast<std::size_t>(samples.size() / (tracker.HopSeconds() * sampleRate)) + 1);
    chunk = std::max<std::size_t>(chunk, 1);
    for (std::size_t at = 0; at < samples.size(); at += chunk) {
        tracker.Feed(samples.data() + at, std::min(chunk, samples.size() - at), track);
    }
    if (peak) {
        *peak = tracker.Peak();
    }
    return track;
}

}  // namespace vocarine
