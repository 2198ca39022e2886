// What every device behind the output port promises, checked on each of them:
// the recorder of the tests, a JACK port of the system, and the built-in
// synthesizer playing through the JACK server.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "JackTestClients.h"
#include "midi/PortDevice.h"
#include "midi/RecordingDevice.h"
#include "midi/SynthDevice.h"

namespace {

using namespace vocarine;
using namespace std::chrono_literals;
using vocarine::testing::JackAudioMeter;
using vocarine::testing::JackMidiReceiver;
using vocarine::testing::TestServerName;

// A device and a way to observe what it does with a note.
class Harness {
public:
    virtual ~Harness() = default;
    virtual MidiDevice& Device() = 0;
    // After Open: waits until the device can sound.
    virtual bool Ready() { return true; }
    // After a note-on of `key`: whether it is heard (or arrived).
    virtual bool Sounds(uint8_t key) = 0;
    // After Reset: whether every note has ended.
    virtual bool Silenced(uint8_t key) = 0;
    // Whether anything at all came out since the harness was made.
    virtual bool AnythingCameOut() = 0;
};

class RecorderHarness : public Harness {
public:
    MidiDevice& Device() override { return device_; }
    bool Sounds(uint8_t key) override
    {
        const auto& m = device_.Messages();
        return !m.empty() && m.back().status == 0x90 && m.back().data1 == key;
    }
    bool Silenced(uint8_t) override { return device_.ResetCount() > 0; }
    bool AnythingCameOut() override { return !device_.Messages().empty(); }

private:
    RecordingDevice device_{"Recorder"};
};

class JackPortHarness : public Harness {
public:
    JackPortHarness() : receiver_("vocarine-contract"), device_(PortSystem::Jack, receiver_.PortName()) {}
    MidiDevice& Device() override { return device_; }
    bool Sounds(uint8_t key) override { return Has({0x90, key, 80}); }
    bool Silenced(uint8_t key) override { return Has({0x80, key, 80}); }
    bool AnythingCameOut() override { return !receiver_.CollectFor(100ms).empty(); }

private:
    bool Has(const std::vector<uint8_t>& bytes)
    {
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (std::chrono::steady_clock::now() < deadline) {
            for (const auto& m : receiver_.WaitFor(1, 50ms))
                if (m.bytes == bytes)
                    return true;
        }
        return false;
    }

    JackMidiReceiver receiver_;
    PortDevice device_;
};

SynthOptions PlayingThroughJack()
{
    SynthOptions options;
    options.audioDrivers = {"jack"};
    return options;
}

class SynthHarness : public Harness {
public:
    SynthHarness() : device_(PlayingThroughJack()), meter_("vocarine-meter") {}
    MidiDevice& Device() override { return device_; }
    bool Ready() override
    {
        if (!device_.WaitUntilLoaded(20s))
            return false;
        return meter_.ConnectFrom("^vocarine-synth[^:]*:(left|right)$") == 2;
    }
    bool Sounds(uint8_t) override { return meter_.WaitForLoud(0.003f, 2s); }
    // The piano's release and the reverb die away below -60 dBFS, for 20 cycles (107 ms) in a row.
    bool Silenced(uint8_t) override { return meter_.WaitForQuiet(0.001f, 20, 8s); }
    bool AnythingCameOut() override
    {
        meter_.ForgetLoudest();
        return meter_.WaitForLoud(0.0001f, 300ms);
    }

private:
    SynthDevice device_;
    JackAudioMeter meter_;
};

struct Implementation {
    const char* name;
    bool needsServer;
    std::function<std::unique_ptr<Harness>()> make;
};

class EveryDevice : public ::testing::TestWithParam<Implementation> {
protected:
    void SetUp() override
    {
        if (GetParam().needsServer && TestServerName().empty())
            GTEST_SKIP() << "needs the private JACK server: run through ctest";
        harness_ = GetParam().make();
    }

    bool Send(uint8_t status, uint8_t key) { return harness_->Device().Send(status, key, 80); }

    std::unique_ptr<Harness> harness_;
};

TEST_P(EveryDevice, TakesNothingWhileClosed)
{
    MidiDevice& device = harness_->Device();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(Send(0x90, 60));
    device.Reset();
    device.Close();
    EXPECT_FALSE(harness_->AnythingCameOut());
}

TEST_P(EveryDevice, SoundsANoteEndsItOnResetAndClosesForGood)
{
    MidiDevice& device = harness_->Device();
    EXPECT_FALSE(device.Name().empty());
    EXPECT_LE(device.Name().size(), DeviceNameLimit);
    ASSERT_TRUE(device.Open()) << device.LastError();
    EXPECT_TRUE(device.IsOpen());
    EXPECT_TRUE(device.Open()) << "opening an open device keeps it open";
    ASSERT_TRUE(harness_->Ready());

    EXPECT_TRUE(Send(0x90, 69));
    EXPECT_TRUE(harness_->Sounds(69));
    device.Reset();
    EXPECT_TRUE(harness_->Silenced(69));

    device.Close();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(Send(0x90, 69));
    device.Close();
    EXPECT_FALSE(device.IsOpen());
}

TEST_P(EveryDevice, OpensAgainAfterClose)
{
    MidiDevice& device = harness_->Device();
    ASSERT_TRUE(device.Open()) << device.LastError();
    device.Close();
    ASSERT_TRUE(device.Open()) << device.LastError();
    ASSERT_TRUE(harness_->Ready());
    EXPECT_TRUE(Send(0x90, 60));
    EXPECT_TRUE(harness_->Sounds(60));
    device.Reset();
    device.Close();
}

INSTANTIATE_TEST_SUITE_P(
    Devices, EveryDevice,
    ::testing::Values(
        Implementation{"Recorder", false, [] { return std::make_unique<RecorderHarness>(); }},
        Implementation{"JackPort", true, [] { return std::make_unique<JackPortHarness>(); }},
        Implementation{"Synthesizer", true, [] { return std::make_unique<SynthHarness>(); }}),
    [](const ::testing::TestParamInfo<Implementation>& info) { return std::string(info.param.name); });

}  // namespace
