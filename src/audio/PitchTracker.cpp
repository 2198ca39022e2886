#include "audio/PitchTracker.h"

#include <aubio/aubio.h>
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace vocarine {
namespace {

// aubio is loaded when the first tracker is made, not with the program: it
// brings along some hundred libraries (ffmpeg's codecs among them) whose
// loading would double the time the main window takes to appear.
struct AubioApi {
    decltype(&::new_aubio_pitch) new_aubio_pitch;
    decltype(&::del_aubio_pitch) del_aubio_pitch;
    decltype(&::aubio_pitch_do) aubio_pitch_do;
    decltype(&::aubio_pitch_set_unit) aubio_pitch_set_unit;
    decltype(&::aubio_pitch_set_silence) aubio_pitch_set_silence;
    decltype(&::aubio_pitch_set_tolerance) aubio_pitch_set_tolerance;
    decltype(&::aubio_pitch_get_confidence) aubio_pitch_get_confidence;
    decltype(&::new_fvec) new_fvec;
    decltype(&::del_fvec) del_fvec;
    decltype(&::fvec_get_data) fvec_get_data;
    decltype(&::fvec_get_sample) fvec_get_sample;
};

struct LoadedAubio {
    AubioApi api{};
    std::string error;  // empty when loaded
};

LoadedAubio LoadAubio()
{
    LoadedAubio loaded;
    void* library = dlopen(VOCARINE_AUBIO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        loaded.error = std::string("aubio could not be loaded") + (why != nullptr ? std::string(": ") + why : "");
        return loaded;
    }
    auto resolve = [&](const char* name, auto& function) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
        if (function == nullptr && loaded.error.empty())
            loaded.error = std::string("aubio lacks ") + name;
    };
    AubioApi& a = loaded.api;
#define VOCARINE_RESOLVE(name) resolve(#name, a.name)
    VOCARINE_RESOLVE(new_aubio_pitch);
    VOCARINE_RESOLVE(del_aubio_pitch);
    VOCARINE_RESOLVE(aubio_pitch_do);
    VOCARINE_RESOLVE(aubio_pitch_set_unit);
    VOCARINE_RESOLVE(aubio_pitch_set_silence);
    VOCARINE_RESOLVE(aubio_pitch_set_tolerance);
    VOCARINE_RESOLVE(aubio_pitch_get_confidence);
    VOCARINE_RESOLVE(new_fvec);
    VOCARINE_RESOLVE(del_fvec);
    VOCARINE_RESOLVE(fvec_get_data);
    VOCARINE_RESOLVE(fvec_get_sample);
#undef VOCARINE_RESOLVE
    return loaded;  // the library is never unloaded
}

// Loads aubio once (thread-safe) and returns its entry points, or throws.
const AubioApi& Aubio()
{
    static const LoadedAubio loaded = LoadAubio();
    if (!loaded.error.empty())
        throw std::runtime_error(loaded.error);
    return loaded.api;
}

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
    const AubioApi& aubio = Aubio();
    aubio_pitch_t* pitch = nullptr;
    fvec_t* in = nullptr;
    fvec_t* out = nullptr;
    uint32_t filled = 0;      // samples of the current hop gathered in `in`
    uint64_t hopsDone = 0;
    float peak = 0.0f;

    void Create() {
        pitch = aubio.new_aubio_pitch(PitchMethodName(method), window, hop, rate);
        if (!pitch) throw std::runtime_error("aubio cannot track pitch at this sample rate");
        aubio.aubio_pitch_set_unit(pitch, "midi");
        // The level gate below decides silence; aubio's own one stays out of the way.
        aubio.aubio_pitch_set_silence(pitch, -120.0f);
        aubio.aubio_pitch_set_tolerance(pitch, static_cast<smpl_t>(Tolerance(method)));
    }
    void Destroy() {
        if (pitch) aubio.del_aubio_pitch(pitch);
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
    impl_->in = impl_->aubio.new_fvec(impl_->hop);
    impl_->out = impl_->aubio.new_fvec(1);
}

PitchTracker::~PitchTracker() {
    impl_->Destroy();
    if (impl_->in) impl_->aubio.del_fvec(impl_->in);
    if (impl_->out) impl_->aubio.del_fvec(impl_->out);
}

void PitchTracker::Feed(const float* samples, std::size_t count, PitchTrack& out) {
    Impl& m = *impl_;
    smpl_t* hopData = m.aubio.fvec_get_data(m.in);
    const double gate = std::pow(10.0, kLevelGateDb / 20.0);
    const double gateSquared = gate * gate;
    for (std::size_t i = 0; i < count; ++i) {
        const float s = samples[i];
        m.peak = std::max(m.peak, std::fabs(s));
        hopData[m.filled++] = s;
        if (m.filled < m.hop) continue;
        m.filled = 0;
        m.aubio.aubio_pitch_do(m.pitch, m.in, m.out);
        ++m.hopsDone;
        double energy = 0.0;
        for (uint32_t k = 0; k < m.hop; ++k) energy += static_cast<double>(hopData[k]) * hopData[k];
        energy /= m.hop;
        const double midi = m.aubio.fvec_get_sample(m.out, 0);
        const double confidence = m.aubio.aubio_pitch_get_confidence(m.pitch);
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
