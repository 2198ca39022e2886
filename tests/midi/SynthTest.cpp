// The built-in synthesizer, rendered offline through the same note path that
// plays it live: it finds its soundfont, plays keys at their pitch, ends a
// note on note-off and on reset, and says why when it cannot open.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <thread>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <vector>

#include "midi/Backends.h"
#include "midi/MaxMidi.h"
#include "midi/SynthDevice.h"
#include "SynthTestSupport.h"

namespace {

using namespace vocarine;
using namespace std::chrono_literals;
using namespace vocarine::testing;

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

TEST_F(SynthSetup, WithoutASoundfontFailsToOpenAndNamesThePackageToInstall)
{
    OfflineSynth synth(WithSoundfonts({dir_ + "/missing.sf2"}));
    EXPECT_FALSE(synth.Device().Open());
    EXPECT_FALSE(synth.Device().IsOpen());
    EXPECT_EQ(synth.Device().LastError(),
              "no General MIDI soundfont is installed; install the package fluid-soundfont-gm");
    EXPECT_FALSE(synth.Device().Send(0x90, 60, 80));
}

TEST_F(SynthSetup, ASoundfontThatIsNoSoundfontFailsToOpen)
{
    const std::string fake = Write("fake.sf2", "this is a text file, not a soundfont\n");
    OfflineSynth synth(WithSoundfonts({fake}));
    EXPECT_FALSE(synth.Device().Open());
    EXPECT_EQ(synth.Device().LastError(), fake + " is not a SoundFont file");
}

// Counts the calls of a device's failure handler, which come from its worker.
struct FailureCount {
    std::atomic<int> calls{0};
    MidiDevice::FailureHandler Handler()
    {
        return [this] { calls.fetch_add(1); };
    }
};

TEST_F(SynthSetup, WithoutAudioOutputFailsOnItsWorkerAndStartsNoServer)
{
    const std::string server = "vocarine-no-such-server";
    MidiDeviceList devices;
    SynthOptions options;
    options.audioDrivers = {"jack"};
    options.jackServer = server;
    devices.push_back(std::make_unique<SynthDevice>(options));
    auto* synth = static_cast<SynthDevice*>(devices.front().get());
    TMaxMidi midi(std::move(devices));
    TMaxMidiOut out(midi);
    FailureCount failures;
    out.SetFailureHandler(failures.Handler());
    // The audio output opens on the worker: the open itself never waits for it.
    EXPECT_GT(out.OpenMidiOut(0, OpenFlags), 32);
    EXPECT_FALSE(synth->WaitUntilLoaded(20s));
    EXPECT_EQ(failures.calls.load(), 1);
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(out.LastOpenError(), "Built-in synthesizer: no audio output could be opened");
    MidiEvent note{SendNow, NoteOnStatus, 60, NoteVelocity, 0};
    EXPECT_EQ(out.PutMidiOut(&note), PutPortClosed);
    EXPECT_FALSE(JackServerAnswers(server));
}

// Soundfonts whose header is good but whose body is not.
std::string Damaged(const std::string& kind, const std::string& real)
{
    std::ifstream in(real, std::ios::binary);
    std::string bytes(64 * 1024, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (kind == "truncated")
        return bytes;
    // The header as it stands, then noise.
    std::string noisy = bytes.substr(0, 12);
    for (int i = 0; i < 64 * 1024; ++i)
        noisy.push_back(static_cast<char>((i * 7919 + 13) & 0xFF));
    return noisy;
}

class DamagedSoundfont : public SynthSetup, public ::testing::WithParamInterface<const char*> {};

TEST_P(DamagedSoundfont, IsPassedOverForTheNextOne)
{
    const std::string real = SystemSoundfont();
    ASSERT_FALSE(real.empty()) << "no GM soundfont installed (fluid-soundfont-gm)";
    const std::string damaged = Write("damaged.sf2", Damaged(GetParam(), real));
    OfflineSynth synth(WithSoundfonts({damaged, real}));
    FailureCount failures;
    synth.Device().SetFailureHandler(failures.Handler());
    ASSERT_TRUE(synth.Start()) << synth.Device().LastError();
    EXPECT_EQ(synth.Device().SoundfontPath(), real);
    EXPECT_FALSE(synth.Device().Failed());
    EXPECT_EQ(failures.calls.load(), 0);
    EXPECT_TRUE(synth.Device().Send(0x90, 69, 80));
    synth.Render(0.3);
    EXPECT_GT(synth.Level(0.1, 0.2), 0.001);
}

TEST_P(DamagedSoundfont, AloneMakesTheDeviceFailAndSaysWhich)
{
    const std::string real = SystemSoundfont();
    ASSERT_FALSE(real.empty()) << "no GM soundfont installed (fluid-soundfont-gm)";
    const std::string damaged = Write("damaged.sf2", Damaged(GetParam(), real));
    auto device = std::make_unique<SynthDevice>([&] {
        SynthOptions options = WithSoundfonts({damaged});
        options.renderOffline = true;
        return options;
    }());
    SynthDevice* synth = device.get();
    MidiDeviceList devices;
    devices.push_back(std::move(device));
    TMaxMidi midi(std::move(devices));
    TMaxMidiOut out(midi);
    FailureCount failures;
    out.SetFailureHandler(failures.Handler());
    EXPECT_GT(out.OpenMidiOut(0, OpenFlags), 32);
    EXPECT_FALSE(synth->WaitUntilLoaded(20s));
    EXPECT_EQ(failures.calls.load(), 1);
    EXPECT_TRUE(synth->Failed());
    EXPECT_FALSE(synth->IsOpen());
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(out.LastOpenError(), "Built-in synthesizer: the soundfont " + damaged + " could not be loaded");
    MidiEvent note{SendNow, NoteOnStatus, 60, NoteVelocity, 0};
    EXPECT_EQ(out.PutMidiOut(&note), PutPortClosed);

    // Another device can be opened afterwards, as after any failed open.
    out.CloseMidiOut();
    EXPECT_FALSE(synth->Failed());
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedSoundfont, ::testing::Values("truncated", "noise"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

TEST(SynthClose, NeverWaitsForALoadStillRunning)
{
    HeldLoad load;
    SynthDevice synth(load.Options());
    FailureCount failures;
    synth.SetFailureHandler(failures.Handler());
    ASSERT_TRUE(synth.Open()) << synth.LastError();
    ASSERT_TRUE(load.WaitUntilStarted());

    // Before the load is let go: a close that waited for it would return
    // only after the held load timed out, and find it let go.
    std::atomic<bool> closed{false};
    std::thread releaser([&] {
        for (int i = 0; i < 1000 && !closed.load(); ++i)
            std::this_thread::sleep_for(10ms);
        load.Release();
    });
    synth.Close();
    const bool loadStillRunning = !load.Released();
    closed.store(true);
    releaser.join();
    EXPECT_TRUE(loadStillRunning) << "Close waited for the load";
    EXPECT_FALSE(synth.IsOpen());
    EXPECT_FALSE(synth.Send(0x90, 60, 80));

    // Opened again at once, it loads; the abandoned load told no one.
    ASSERT_TRUE(synth.Open());
    EXPECT_TRUE(synth.WaitUntilLoaded(20s));
    EXPECT_EQ(failures.calls.load(), 0);
}

TEST(SynthWhileLoading, HoldsNotesBackAndPlaysThemInOrderAndInTimeOnceLoaded)
{
    HeldLoad load;
    SynthOptions options = load.Options();
    OfflineSynth synth(options);
    SynthDevice& device = synth.Device();
    ASSERT_TRUE(device.Open()) << device.LastError();
    ASSERT_TRUE(load.WaitUntilStarted());

    // Three legato notes 300 ms apart, the last left sounding, as Play puts them.
    const uint8_t keys[] = {60, 64, 67};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(device.Send(0x90, keys[i], 80)) << "note " << i << " was refused";
        if (i < 2) {
            std::this_thread::sleep_for(300ms);
            EXPECT_TRUE(device.Send(0x80, keys[i], 80));
        }
    }
    load.Release();
    ASSERT_TRUE(device.WaitUntilLoaded(20s));
    const std::vector<float> heard = RenderInRealTime(device, 1.2);

    const std::size_t onset = Onset(heard);
    ASSERT_LT(onset, std::size_t(0.1 * synth.Rate())) << "the held notes did not sound at once";
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(CentsFromKey(heard, synth.Rate(), onset, 0.3 * i + 0.07, 0.18, keys[i]), 0.0, 30.0)
            << "note " << i;

    // Played straight once the held notes are out.
    EXPECT_TRUE(device.Send(0x80, 67, 80));
    device.Reset();
}

TEST(SynthWhileLoading, AResetDropsTheNotesHeldBack)
{
    HeldLoad load;
    OfflineSynth synth(load.Options());
    ASSERT_TRUE(synth.Device().Open());
    ASSERT_TRUE(load.WaitUntilStarted());
    EXPECT_TRUE(synth.Device().Send(0x90, 60, 80));
    EXPECT_TRUE(synth.Device().Send(0x90, 67, 80));
    synth.Device().Reset();
    load.Release();
    ASSERT_TRUE(synth.Device().WaitUntilLoaded(20s));
    synth.Render(0.5);
    EXPECT_LT(synth.Level(0, 0.5), 1e-5);  // below -100 dBFS: nothing played
    // A note put now sounds.
    EXPECT_TRUE(synth.Device().Send(0x90, 69, 80));
    synth.Render(0.3);
    EXPECT_GT(synth.Level(0.6, 0.2), 0.001);
}

// The level: a cell at velocity 80 and the starting tempo (800 ms a note)
// plays near -20 dBFS RMS, and nothing clips when the tonic and the last note
// of the cell before still sound under it, at any tempo and in any register.
struct LevelCase {
    int noteMs;
    uint8_t lowest;  // do of the cell
};

class SynthLevel : public ::testing::TestWithParam<LevelCase> {};

TEST_P(SynthLevel, CellIsLoudEnoughAndNeverClips)
{
    const LevelCase c = GetParam();
    OfflineSynth synth;
    ASSERT_TRUE(synth.Start()) << synth.Device().LastError();
    SynthDevice& device = synth.Device();
    const double rate = synth.Rate();
    std::vector<float> left(Block), right(Block);
    double sum = 0, peak = 0;
    std::size_t frames = 0;
    const auto render = [&](double seconds, bool measured) {
        for (std::size_t done = 0; done < std::size_t(seconds * rate); done += Block) {
            device.Render(left.data(), right.data(), Block);
            for (int i = 0; i < Block; ++i) {
                peak = std::max({peak, double(std::fabs(left[i])), double(std::fabs(right[i]))});
                if (measured)
                    sum += double(left[i]) * left[i] + double(right[i]) * right[i];
            }
            if (measured)
                frames += Block;
        }
    };
    device.Send(0x90, 60, 80);  // "Where's Do?" in C, left sounding
    render(0.5, false);
    device.Send(0x90, c.lowest + 12, 80);  // the last note of the cell before, left sounding
    render(0.5, false);
    const int steps[] = {0, 2, 4, 5, 7, 9, 11, 12, 11, 12};
    for (int i = 0; i < 10; ++i) {
        device.Send(0x90, uint8_t(c.lowest + steps[i]), 80);
        render(c.noteMs / 1000.0, true);
        if (i < 9)
            device.Send(0x80, uint8_t(c.lowest + steps[i]), 80);
    }
    render(1.0, false);
    const double rmsDb = 10 * std::log10(sum / (2.0 * double(frames)));
    const double peakDb = 20 * std::log10(peak);
    if (c.noteMs == 800 && c.lowest == 60) {
        EXPECT_NEAR(rmsDb, -20.0, 2.0);
    }
    EXPECT_GT(rmsDb, -26.0);
    EXPECT_LT(peakDb, -1.0) << "RMS " << rmsDb << " dBFS";
}

INSTANTIATE_TEST_SUITE_P(Cells, SynthLevel,
                         ::testing::Values(LevelCase{800, 60}, LevelCase{800, 45}, LevelCase{800, 81},
                                           LevelCase{50, 45}, LevelCase{50, 60}, LevelCase{50, 81}),
                         [](const ::testing::TestParamInfo<LevelCase>& info) {
                             return "Note" + std::to_string(info.param.noteMs) + "msFromKey" +
                                    std::to_string(info.param.lowest);
                         });

}  // namespace
