#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ListenTestSupport.h"
#include "audio/PitchTracker.h"

namespace vocarine {
namespace {

using testing::Renderer;
using testing::SungTake;

// Median of the voiced frames between `from` and `to` seconds, and the share of them voiced.
std::pair<double, double> MedianBetween(const PitchTrack& track, double from, double to)
{
    std::vector<double> voiced;
    int frames = 0;
    for (const PitchFrame& f : track) {
        if (f.time >= from && f.time <= to) {
            ++frames;
            if (f.midi > 0.0) {
                voiced.push_back(f.midi);
            }
        }
    }
    if (voiced.empty()) {
        return {0.0, 0.0};
    }
    std::nth_element(voiced.begin(), voiced.begin() + voiced.size() / 2, voiced.end());
    return {voiced[voiced.size() / 2], static_cast<double>(voiced.size()) / frames};
}

TEST(PitchTracker, FollowsRenderedVoicesOverTheSungRange)
{
    ASSERT_TRUE(Renderer().Ok()) << Renderer().Error();
    const std::vector<double> pitches = {47.0, 52.3, 59.0, 66.6, 74.0, 81.0};
    for (int program : {takes::ChoirAahs, takes::VoiceOohs, takes::SynthVoice}) {
        SCOPED_TRACE(takes::ProgramName(program));
        const takes::TakeDescription take = SungTake(pitches, program, 0.8);
        const WavAudio audio = Renderer().Render(take);
        for (PitchMethod method : {PitchMethod::Yin, PitchMethod::YinFast}) {
            SCOPED_TRACE(PitchMethodName(method));
            const PitchTrack track = TrackSamples(audio.samples, audio.sampleRate, method, 256);
            for (const takes::TakeNote& note : take.notes) {
                SCOPED_TRACE(note.midi);
                // The held part: the choir's attack wavers by octaves for its first 300 ms.
                const auto [median, voiced] =
                    MedianBetween(track, note.start + 0.3, note.start + note.seconds - 0.05);
                EXPECT_NEAR(median, note.midi, 0.15);
                EXPECT_GT(voiced, 0.7);
            }
            // Silence before the first note and after the last is unvoiced.
            EXPECT_EQ(MedianBetween(track, 0.0, 0.28).second, 0.0);
            EXPECT_EQ(MedianBetween(track, take.seconds - 0.2, take.seconds).second, 0.0);
        }
    }
}

TEST(PitchTracker, FramesComeEveryHopWhateverTheChunksAndRestartCountsFromZero)
{
    const uint32_t rate = 48000;
    std::vector<float> tone(rate);  // one second of A4
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = 0.3f * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / rate));
    }
    PitchTracker tracker(rate);
    EXPECT_LE(tracker.HopSeconds(), 0.010);
    EXPECT_LE(tracker.WindowSeconds(), 0.025);
    PitchTrack track;
    std::size_t at = 0;
    for (std::size_t chunk : {1u, 7u, 480u, 1000u, 3u}) {
        for (int i = 0; i < 20 && at < tone.size(); ++i) {
            const std::size_t n = std::min(chunk, tone.size() - at);
            tracker.Feed(tone.data() + at, n, track);
            at += n;
        }
    }
    tracker.Feed(tone.data() + at, tone.size() - at, track);
    ASSERT_EQ(track.size(), static_cast<std::size_t>(std::floor(1.0 / tracker.HopSeconds() + 1e-9)));
    for (std::size_t i = 0; i < track.size(); ++i) {
        EXPECT_NEAR(track[i].time, (i + 1) * tracker.HopSeconds(), 1e-9);
    }
    EXPECT_NEAR(MedianBetween(track, 0.1, 1.0).first, 69.0, 0.05);
    EXPECT_NEAR(tracker.Peak(), 0.3f, 1e-3);

    tracker.Restart();
    EXPECT_EQ(tracker.Peak(), 0.0f);
    PitchTrack again;
    tracker.Feed(tone.data(), 4800, again);
    ASSERT_FALSE(again.empty());
    EXPECT_NEAR(again.front().time, tracker.HopSeconds(), 1e-9);
}

TEST(PitchTracker, BreathAndHissAreNotNotesAndClippingShowsInThePeak)
{
    const uint32_t rate = 44100;
    // Breath: noise swelling and fading, at a level a voice would have.
    std::vector<float> breath(rate);
    uint32_t state = 12345;
    for (std::size_t i = 0; i < breath.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const double white = static_cast<double>(state >> 8) / (1u << 24) - 0.5;
        const double swell = std::sin(M_PI * static_cast<double>(i) / breath.size());
        breath[i] = static_cast<float>(0.4 * swell * white);
    }
    const PitchTrack track = TrackSamples(breath, rate);
    EXPECT_LT(MedianBetween(track, 0.0, 1.0).second, 0.05);
    EXPECT_TRUE(FindSungNotes(track).empty());

    std::vector<float> loud(rate / 4);
    for (std::size_t i = 0; i < loud.size(); ++i) {
        loud[i] = static_cast<float>(std::clamp(1.5 * std::sin(2.0 * M_PI * 220.0 * i / rate), -1.0, 1.0));
    }
    float peak = 0.0f;
    TrackSamples(loud, rate, kDefaultPitchMethod, 512, &peak);
    EXPECT_GE(peak, 1.0f);
}

}  // namespace
}  // namespace vocarine
