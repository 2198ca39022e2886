// For tests of the built-in synthesizer, shared by the MIDI layer's tests and
// the windows': a load held up by the test, rendering in step with the clock,
// and the pitch of a steady stretch of what was rendered.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "midi/SynthDevice.h"

namespace vocarine::testing {

using namespace std::chrono_literals;

// A load that the test holds up until it lets go (or ten seconds pass).
class HeldLoad {
public:
    SynthOptions Options()
    {
        SynthOptions options;
        options.renderOffline = true;
        options.beforeLoad = [this] {
            std::unique_lock lock(mutex_);
            started_ = true;
            changed_.notify_all();
            changed_.wait_for(lock, 10s, [this] { return released_; });
        };
        return options;
    }
    bool WaitUntilStarted()
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [this] { return started_; });
    }
    void Release()
    {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    bool Released() const
    {
        std::lock_guard lock(mutex_);
        return released_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool started_ = false;
    bool released_ = false;
};


// Normalised autocorrelation of x at lag.
inline double Correlation(const std::vector<float>& x, std::size_t lag)
{
    const std::size_t n = x.size() - lag;
    double xy = 0, xx = 0, yy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        xy += double(x[i]) * x[i + lag];
        xx += double(x[i]) * x[i];
        yy += double(x[i + lag]) * x[i + lag];
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
}

// Power of the Hann-windowed signal at `hz` (one bin of a DFT at any frequency).
inline double PowerAt(const std::vector<float>& x, double hz, double rate)
{
    const double w = 2 * M_PI * hz / rate;
    double re = 0, im = 0;
    const double n = double(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / (n - 1));
        re += hann * x[i] * std::cos(w * double(i));
        im -= hann * x[i] * std::sin(w * double(i));
    }
    return re * re + im * im;
}

// The fundamental of a steady stretch of a piano tone. The autocorrelation's
// shortest strong period gives it to within a few percent without knowing
// what to expect (so a note an octave off is not mistaken for the right one
// by way of its harmonics); then the fundamental partial's peak in the
// spectrum near that estimate gives it to a fraction of a cent.
inline double Fundamental(const std::vector<float>& x, double rate)
{
    const auto minLag = static_cast<std::size_t>(rate / 2000);
    const auto maxLag = static_cast<std::size_t>(rate / 50);
    std::vector<double> r(maxLag + 2, 0.0);
    for (std::size_t lag = minLag; lag <= maxLag + 1; ++lag)
        r[lag] = Correlation(x, lag);
    const double best = *std::max_element(r.begin() + long(minLag), r.end());
    std::size_t period = 0;
    for (std::size_t lag = minLag + 1; lag <= maxLag && period == 0; ++lag)
        if (r[lag] >= 0.9 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1])
            period = lag;
    if (period == 0)
        return 0;
    const double coarse = rate / double(period);

    // Half-cent steps over a semitone either side, then a parabola through the top three.
    double bestHz = coarse, bestPower = -1;
    std::vector<std::pair<double, double>> scan;
    for (double cents = -100; cents <= 100; cents += 0.5) {
        const double hz = coarse * std::pow(2.0, cents / 1200);
        const double power = PowerAt(x, hz, rate);
        scan.emplace_back(hz, power);
        if (power > bestPower) {
            bestPower = power;
            bestHz = hz;
        }
    }
    const auto top = std::find_if(scan.begin(), scan.end(), [&](auto& p) { return p.first == bestHz; });
    if (top == scan.begin() || top + 1 == scan.end())
        return bestHz;
    const double a = std::log((top - 1)->second), b = std::log(top->second), c = std::log((top + 1)->second);
    const double shift = 0.5 * (a - c) / (a - 2 * b + c);  // in steps of half a cent
    return bestHz * std::pow(2.0, shift * 0.5 / 1200);
}

inline double Cents(double hz, double reference)
{
    return 1200 * std::log2(hz / reference);
}

// Renders `seconds` of an offline synthesizer's left channel in step with the
// clock, as an audio driver asks for sound: notes held back for a later time
// sound then.
inline std::vector<float> RenderInRealTime(SynthDevice& synth, double seconds, int block = 256)
{
    const double rate = synth.AudioSetup().sampleRate;
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> recording, left(static_cast<std::size_t>(block)), right(static_cast<std::size_t>(block));
    const auto start = std::chrono::steady_clock::now();
    while (recording.size() < frames) {
        std::this_thread::sleep_until(start + std::chrono::duration<double>(double(recording.size()) / rate));
        synth.Render(left.data(), right.data(), block);
        recording.insert(recording.end(), left.begin(), left.end());
    }
    return recording;
}

// The first sample above -60 dBFS.
inline std::size_t Onset(const std::vector<float>& x)
{
    for (std::size_t i = 0; i < x.size(); ++i)
        if (std::fabs(x[i]) > 1e-3f)
            return i;
    return x.size();
}

// The pitch heard from `from` for `length` seconds after sample `onset`, in
// cents from MIDI key `key`.
inline double CentsFromKey(const std::vector<float>& x, double rate, std::size_t onset, double from, double length,
                           int key)
{
    const auto begin = onset + static_cast<std::size_t>(from * rate);
    const auto end = std::min(x.size(), begin + static_cast<std::size_t>(length * rate));
    if (begin >= end)
        return 1e9;
    const std::vector<float> stretch(x.begin() + long(begin), x.begin() + long(end));
    return Cents(Fundamental(stretch, rate), 440.0 * std::pow(2.0, (key - 69) / 12.0));
}

}  // namespace vocarine::testing
