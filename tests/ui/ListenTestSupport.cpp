#include "ListenTestSupport.h"

#include <QTest>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace listen_testing {

std::vector<float> RenderTake(const std::vector<Stretch>& stretches, float level, uint32_t rate)
{
    constexpr double Harmonics[] = {1.0, 0.6, 0.4, 0.25, 0.15};
    double amplitudeSum = 0.0;
    for (double h : Harmonics)
        amplitudeSum += h;
    const double edge = 0.015 * rate;  // samples of fade in and out
    std::vector<float> samples;
    double phase = 0.0;  // of the fundamental, in cycles
    for (const Stretch& stretch : stretches) {
        const auto n = static_cast<std::size_t>(std::lround(stretch.seconds * rate));
        const double hz = stretch.midi > 0.0 ? 440.0 * std::pow(2.0, (stretch.midi - 69.0) / 12.0) : 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            if (hz == 0.0) {
                samples.push_back(0.0f);
                continue;
            }
            const double fade = std::min({1.0, (i + 1) / edge, (n - i) / edge});
            double value = 0.0;
            for (std::size_t h = 0; h < std::size(Harmonics); ++h)
                value += Harmonics[h] * std::sin(2.0 * std::numbers::pi * (h + 1) * phase);
            samples.push_back(static_cast<float>(level * fade * value / amplitudeSum));
            phase += hz / rate;
            phase -= std::floor(phase);
        }
    }
    return samples;
}

std::vector<Stretch> SungCell(const std::vector<int>& midiKeys, const std::vector<double>& cents)
{
    std::vector<Stretch> take{{0.0, 0.3}};
    for (std::size_t i = 0; i < midiKeys.size(); ++i) {
        const double detune = i < cents.size() ? cents[i] : 0.0;
        if (std::isnan(detune))
            continue;  // left out
        take.push_back({midiKeys[i] + detune / 100.0, 0.4});
        take.push_back({0.0, 0.1});
    }
    return take;
}

bool PushInput::Open(vocarine::SampleRing& ring)
{
    ring_ = &ring;
    failed_ = false;
    return true;
}

std::size_t PushInput::Push(const float* samples, std::size_t count)
{
    return ring_ ? ring_->Push(samples, count) : 0;
}

void Sing(PushInput& input, const std::vector<float>& take)
{
    std::size_t done = 0;
    while (done < take.size()) {
        const std::size_t chunk = std::min<std::size_t>(take.size() - done, 8192);
        done += input.Push(take.data() + done, chunk);
        QTest::qWait(5);
    }
}

}  // namespace listen_testing
