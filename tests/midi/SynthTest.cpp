// The built-in synthesizer, rendered offline through the same note path that
// plays it live: it finds its soundfont, plays keys at their pitch, ends a
// note on note-off and on reset, and says why when it cannot open.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <vector>

#include "midi/Backends.h"
#include "midi/MaxMidi.h"
#include "midi/SynthDevice.h"

namespace {

using namespace vocarine;
using namespace std::chrono_literals;

constexpr int Block = 256;  // rendered in the blocks an audio driver asks for

// A synthesizer without audio output whose sound the test pulls.
class OfflineSynth {
public:
    explicit OfflineSynth(SynthOptions options = {})
        : device_([&] {
              options.renderOffline = true;
              return options;
          }())
    {
    }

    bool Start() { return device_.Open() && device_.WaitUntilLoaded(20s); }
    SynthDevice& Device() { return device_; }
    double Rate() const { return device_.AudioSetup().sampleRate; }

    // Appends `seconds` of the left channel to the recording.
    void Render(double seconds)
    {
        const auto frames = static_cast<std::size_t>(seconds * Rate());
        std::vector<float> left(Block), right(Block);
        for (std::size_t done = 0; done < frames; done += Block) {
            device_.Render(left.data(), right.data(), Block);
            recording_.insert(recording_.end(), left.begin(), left.end());
        }
    }

    std::size_t Now() const { return recording_.size(); }
    const std::vector<float>& Recording() const { return recording_; }

    // Root mean square over [from, from + seconds) in seconds of the recording.
    double Level(double from, double seconds) const
    {
        const auto begin = static_cast<std::size_t>(from * Rate());
        const auto end = std::min(recording_.size(), begin + static_cast<std::size_t>(seconds * Rate()));
        double sum = 0;
        for (std::size_t i = begin; i < end; ++i)
            sum += double(recording_[i]) * recording_[i];
        return end > begin ? std::sqrt(sum / double(end - begin)) : 0.0;
    }

private:
    SynthDevice device_;
    std::vector<float> recording_;
};

// Normalised autocorrelation of x at lag.
double Correlation(const std::vector<float>& x, std::size_t lag)
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
double PowerAt(const std::vector<float>& x, double hz, double rate)
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
double Fundamental(const std::vector<float>& x, double rate)
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

double Cents(double hz, double reference)
{
    return 1200 * std::log2(hz / reference);
}

struct PitchCase {
    uint8_t key;
    double hz;
};

class SynthPitch : public ::testing::TestWithParam<PitchCase> {};

TEST_P(SynthPitch, KeySoundsAtItsEqualTemperedPitch)
{
    const PitchCase c = GetParam();
    OfflineSynth synth;
    ASSERT_TRUE(synth.Start()) << synth.Device().LastError();
    synth.Render(0.1);
    ASSERT_TRUE(synth.Device().Send(0x90, c.key, 80));
    const std::size_t onset = synth.Now();
    synth.Render(1.6);
    // A steady stretch: past the hammer's attack, a second long.
    const auto begin = synth.Recording().begin() + long(onset + std::size_t(0.3 * synth.Rate()));
    const std::vector<float> stretch(begin, begin + long(synth.Rate()));
    const double hz = Fundamental(stretch, synth.Rate());
    EXPECT_NEAR(Cents(hz, c.hz), 0.0, 5.0) << "key " << int(c.key) << " sounds at " << hz << " Hz";
}

INSTANTIATE_TEST_SUITE_P(Keys, SynthPitch, ::testing::Values(PitchCase{69, 440.0}, PitchCase{60, 261.6256}),
                         [](const ::testing::TestParamInfo<PitchCase>& info) {
                             return "Key" + std::to_string(info.param.key);
                         });

// How the note ends, against a note left sounding over the same time.
enum class Ending { NoteOff, NoteOnVelocityZero, Reset };

class SynthEnding : public ::testing::TestWithParam<Ending> {};

TEST_P(SynthEnding, EndsTheNoteAfterItsRelease)
{
    OfflineSynth ended, held;
    ASSERT_TRUE(ended.Start()) << ended.Device().LastError();
    ASSERT_TRUE(held.Start());
    for (OfflineSynth* s : {&ended, &held}) {
        s->Render(0.1);
        ASSERT_TRUE(s->Device().Send(0x90, 60, 80));
        s->Render(1.0);
    }
    switch (GetParam()) {
    case Ending::NoteOff: EXPECT_TRUE(ended.Device().Send(0x80, 60, 80)); break;
    case Ending::NoteOnVelocityZero: EXPECT_TRUE(ended.Device().Send(0x90, 60, 0)); break;
    case Ending::Reset: ended.Device().Reset(); break;
    }
    ended.Render(1.7);
    held.Render(1.7);

    // The note sounds from 0.1 s, ends at 1.1 s; looked at again from 2.4 s.
    const double sounding = ended.Level(0.4, 0.5);
    const double after = ended.Level(2.4, 0.3);
    const double stillHeld = held.Level(2.4, 0.3);
    ASSERT_GT(sounding, 0.001) << "the note did not sound";
    // Near silence: 60 dB below the note; the held note is far above that.
    EXPECT_LT(after, sounding / 1000);
    EXPECT_GT(stillHeld, sounding / 100);
}

INSTANTIATE_TEST_SUITE_P(Endings, SynthEnding,
                         ::testing::Values(Ending::NoteOff, Ending::NoteOnVelocityZero, Ending::Reset),
                         [](const ::testing::TestParamInfo<Ending>& info) {
                             switch (info.param) {
                             case Ending::NoteOff: return "NoteOff";
                             case Ending::NoteOnVelocityZero: return "NoteOnVelocityZero";
                             default: return "Reset";
                             }
                         });

class SynthSetup : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.empty() == false); }

    std::string Write(const std::string& name, const std::string& text)
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    std::string dir_ = [] {
        char pattern[] = "/tmp/vocarine-synth-XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made != nullptr ? made : "");
    }();

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
};

SynthOptions WithSoundfonts(std::vector<std::string> paths)
{
    SynthOptions options;
    options.soundfonts = std::move(paths);
    return options;
}

std::string SystemSoundfont()
{
    for (const std::string& path : SynthDevice::DefaultSoundfonts())
        if (std::filesystem::is_regular_file(path))
            return path;
    return {};
}

TEST_F(SynthSetup, FallsBackToTheNextSoundfontThatExists)
{
    const std::string real = SystemSoundfont();
    ASSERT_FALSE(real.empty()) << "no GM soundfont installed (fluid-soundfont-gm)";
    OfflineSynth synth(WithSoundfonts({dir_ + "/missing.sf2", real}));
    ASSERT_TRUE(synth.Start()) << synth.Device().LastError();
    EXPECT_EQ(synth.Device().SoundfontPath(), real);
}

TEST_F(SynthSetup, WithoutASoundfontFailsToOpenAndSaysWhy)
{
    OfflineSynth synth(WithSoundfonts({dir_ + "/missing.sf2"}));
    EXPECT_FALSE(synth.Device().Open());
    EXPECT_FALSE(synth.Device().IsOpen());
    EXPECT_EQ(synth.Device().LastError(), "no General MIDI soundfont was found");
    EXPECT_FALSE(synth.Device().Send(0x90, 60, 80));
}

TEST_F(SynthSetup, ASoundfontThatIsNoSoundfontFailsToOpen)
{
    const std::string fake = Write("fake.sf2", "this is a text file, not a soundfont\n");
    OfflineSynth synth(WithSoundfonts({fake}));
    EXPECT_FALSE(synth.Device().Open());
    EXPECT_EQ(synth.Device().LastError(), fake + " is not a SoundFont file");
}

TEST_F(SynthSetup, WithoutAudioOutputFailsToOpenAndStartsNoServer)
{
    const std::string server = "vocarine-no-such-server";
    MidiDeviceList devices;
    SynthOptions options;
    options.audioDrivers = {"jack"};
    options.jackServer = server;
    devices.push_back(std::make_unique<SynthDevice>(options));
    TMaxMidi midi(std::move(devices));
    TMaxMidiOut out(midi);
    EXPECT_LE(out.OpenMidiOut(0, OpenFlags), 32);
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(out.LastOpenError(), "Built-in synthesizer: no audio output could be opened");
    EXPECT_FALSE(JackServerAnswers(server));
}

}  // namespace
