// The audio input layer without a sound server: the sample ring, the input
// port over a list of devices, and the device that plays a take in real time.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <cmath>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "audio/AudioInput.h"
#include "audio/SystemInputs.h"
#include "audio/WavFile.h"
#include "audio/WavFileDevice.h"

namespace {

using namespace vocarine;
using namespace std::chrono_literals;

std::vector<float> Ramp(std::size_t count, float start = 0.0f)
{
    std::vector<float> values(count);
    std::iota(values.begin(), values.end(), start);
    return values;
}

// Reads from the port until `count` samples are in or the time is up.
std::vector<float> ReadAtLeast(AudioInputPort& port, std::size_t count, std::chrono::milliseconds timeout = 5s)
{
    std::vector<float> got;
    std::vector<float> chunk(4096);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        const std::size_t n = port.Read(chunk.data(), chunk.size());
        got.insert(got.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
        if (n == 0)
            std::this_thread::sleep_for(2ms);
    }
    return got;
}

TEST(SampleRingTest, KeepsOrderAcrossTheWrapAndDropsWhatDoesNotFit)
{
    SampleRing ring(8);
    EXPECT_EQ(ring.Capacity(), 8u);
    std::vector<float> out(16);

    // Steps that walk the ends of the ring past its end several times.
    struct Step {
        std::size_t push;
        std::size_t taken;  // what Push keeps
        std::size_t pop;
        std::size_t popped;
    };
    const Step steps[] = {
        {5, 5, 3, 3},    // 2 waiting, ends at 5 and 3
        {6, 6, 0, 0},    // full: 8 waiting, the write wrapped
        {3, 0, 8, 8},    // a full ring takes nothing; all 8 come out in order
        {7, 7, 7, 7},    // across the end again
        {10, 8, 10, 8},  // only the room there is
        {0, 0, 4, 0},    // nothing waits
    };
    // What did not fit is lost; the sender goes on with new samples. The
    // model is a queue that takes only what the ring has room for.
    std::deque<float> model;
    float next = 0.0f;
    for (const Step& step : steps) {
        const auto values = Ramp(step.push, next);
        next += static_cast<float>(step.push);
        EXPECT_EQ(ring.Push(values.data(), values.size()), step.taken);
        model.insert(model.end(), values.begin(), values.begin() + static_cast<std::ptrdiff_t>(step.taken));
        const std::size_t popped = ring.Pop(out.data(), step.pop);
        ASSERT_EQ(popped, step.popped);
        for (std::size_t i = 0; i < popped; ++i) {
            EXPECT_EQ(out[i], model.front()) << "sample " << i;
            model.pop_front();
        }
        EXPECT_EQ(ring.Available(), model.size());
    }
}

TEST(SampleRingTest, FullRingTakesNothingAndDiscardEmptiesIt)
{
    SampleRing ring(4);
    const auto values = Ramp(6, 1.0f);
    EXPECT_EQ(ring.Push(values.data(), 6), 4u);
    EXPECT_EQ(ring.Available(), 4u);
    EXPECT_EQ(ring.Push(values.data(), 1), 0u);
    std::vector<float> out(4);
    ASSERT_EQ(ring.Pop(out.data(), 4), 4u);
    EXPECT_EQ(out, (std::vector<float>{1, 2, 3, 4}));

    ASSERT_EQ(ring.Push(values.data(), 3), 3u);
    EXPECT_EQ(ring.DiscardAll(), 3u);
    EXPECT_EQ(ring.Available(), 0u);
    EXPECT_EQ(ring.Pop(out.data(), 4), 0u);
    // After a discard the ring fills up to its whole size again.
    EXPECT_EQ(ring.Push(values.data(), 6), 4u);
}

TEST(SampleRingTest, PeakCountsEverythingOfferedAndStartsAgainWhenTaken)
{
    SampleRing ring(2);
    const float loud[] = {0.1f, -0.9f, 0.3f, 0.2f};
    ring.Push(loud, 2);
    ring.Push(loud + 2, 2);  // does not fit, but it arrived
    EXPECT_FLOAT_EQ(ring.TakePeak(), 0.9f);
    EXPECT_EQ(ring.TakePeak(), 0.0f);
    ring.Push(loud + 2, 1);
    EXPECT_FLOAT_EQ(ring.TakePeak(), 0.3f);
}

TEST(SampleRingTest, ProducerAndConsumerThreadsPassEverySampleInOrder)
{
    // The producer retries what did not fit, so nothing may be lost or doubled.
    constexpr std::size_t Total = 2'000'000;
    SampleRing ring(1000);
    std::thread producer([&ring] {
        std::mt19937 random(7);
        std::uniform_int_distribution<std::size_t> size(1, 700);
        std::vector<float> chunk(700);
        std::size_t sent = 0;
        while (sent < Total) {
            const std::size_t n = std::min(size(random), Total - sent);
            for (std::size_t i = 0; i < n; ++i)
                chunk[i] = static_cast<float>((sent + i) % 16'777'216);  // exact in a float
            std::size_t done = 0;
            while (done < n) {
                done += ring.Push(chunk.data() + done, n - done);
                if (done < n)
                    std::this_thread::yield();
            }
            sent += n;
        }
    });
    std::mt19937 random(11);
    std::uniform_int_distribution<std::size_t> size(1, 900);
    std::vector<float> out(900);
    std::size_t received = 0;
    std::size_t wrong = 0;
    while (received < Total) {
        const std::size_t n = ring.Pop(out.data(), size(random));
        for (std::size_t i = 0; i < n; ++i)
            if (out[i] != static_cast<float>((received + i) % 16'777'216))
                ++wrong;
        received += n;
        if (n == 0)
            std::this_thread::yield();
    }
    producer.join();
    EXPECT_EQ(received, Total);
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(ring.Available(), 0u);
}

class TakeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    std::string WriteTake(const std::string& name, const WavAudio& take)
    {
        const std::string path = dir_.filePath(QString::fromStdString(name)).toStdString();
        EXPECT_TRUE(WriteWavFile(path, take));
        return path;
    }

    static WavAudio Sine(uint32_t rate, double seconds, double hz, float amplitude = 0.5f)
    {
        WavAudio take{rate, {}};
        const auto count = static_cast<std::size_t>(rate * seconds);
        for (std::size_t i = 0; i < count; ++i)
            take.samples.push_back(amplitude * static_cast<float>(std::sin(2 * M_PI * hz * i / rate)));
        return take;
    }

    QTemporaryDir dir_;
};

TEST_F(TakeTest, AWavTakeArrivesWholeAndInOrderThenSilence)
{
    WavAudio take = Sine(16000, 0.5, 440.0);
    const std::string path = WriteTake("take.wav", take);
    AudioDeviceList devices;
    devices.push_back(std::make_unique<WavFileDevice>("Take", path));
    AudioInputs inputs(std::move(devices));
    AudioInputPort port(inputs);
    ASSERT_TRUE(port.Open(0)) << port.LastError();
    EXPECT_EQ(port.SampleRate(), 16000u);
    EXPECT_EQ(port.OpenDevice(), 0);
    auto* device = dynamic_cast<WavFileDevice*>(inputs.Device(0));
    // Played in real time: a half-second take is not all there at once.
    EXPECT_LT(device->Delivered(), take.samples.size());

    const std::vector<float> got = ReadAtLeast(port, take.samples.size() + 800);
    ASSERT_GE(got.size(), take.samples.size() + 800);
    EXPECT_TRUE(device->Finished());
    for (std::size_t i = 0; i < take.samples.size(); ++i)
        ASSERT_FLOAT_EQ(got[i], take.samples[i]) << "sample " << i;
    for (std::size_t i = take.samples.size(); i < got.size(); ++i)
        ASSERT_EQ(got[i], 0.0f) << "sample " << i;
    EXPECT_NEAR(port.TakePeak(), 0.5f, 0.01f);

    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(device->IsOpen());
    EXPECT_EQ(port.OpenDevice(), -1);
    EXPECT_EQ(port.SampleRate(), 0u);
    float sample = 0;
    EXPECT_EQ(port.Read(&sample, 1), 0u);
}

TEST_F(TakeTest, ALoopedTakeStartsAgainAndDiscardDropsWhatWaits)
{
    WavAudio take{8000, Ramp(400, 1.0f)};
    for (float& v : take.samples)
        v /= 1000.0f;
    AudioDeviceList devices;
    devices.push_back(std::make_unique<WavFileDevice>("Loop", take, WavFileDevice::Options{.loop = true}));
    AudioInputs inputs(std::move(devices));
    AudioInputPort port(inputs);
    ASSERT_TRUE(port.Open(0));
    const std::vector<float> got = ReadAtLeast(port, 1000);
    ASSERT_GE(got.size(), 1000u);
    for (std::size_t i = 0; i < 1000; ++i)
        ASSERT_FLOAT_EQ(got[i], take.samples[i % 400]) << "sample " << i;

    // After a discard, reading starts with what arrives from then on.
    std::this_thread::sleep_for(30ms);
    port.Discard();
    const std::vector<float> after = ReadAtLeast(port, 40);
    ASSERT_GE(after.size(), 40u);
    EXPECT_NE(after[0], take.samples[1000 % 400]);
}

TEST_F(TakeTest, AnUnreadableTakeFailsTheOpenNamingDeviceAndFile)
{
    const std::string path = dir_.filePath("broken.wav").toStdString();
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("not a wav", file);
        std::fclose(file);
    }
    AudioDeviceList devices;
    devices.push_back(std::make_unique<WavFileDevice>("Broken take", path));
    devices.push_back(std::make_unique<WavFileDevice>("Missing take", dir_.filePath("none.wav").toStdString()));
    devices.push_back(std::make_unique<WavFileDevice>("Good take", Sine(8000, 0.1, 300.0)));
    AudioInputs inputs(std::move(devices));
    AudioInputPort port(inputs);

    ASSERT_TRUE(port.Open(2));
    for (int index : {0, 1}) {
        // A failed open leaves the port closed, also the device open before.
        EXPECT_FALSE(port.Open(index));
        EXPECT_FALSE(port.IsOpen());
        EXPECT_FALSE(inputs.Device(2)->IsOpen());
        const std::string error = port.LastError();
        EXPECT_NE(error.find(inputs.Device(index)->Name() + ": "), std::string::npos) << error;
        EXPECT_NE(error.find(index == 0 ? "broken.wav" : "none.wav"), std::string::npos) << error;
    }
    EXPECT_FALSE(port.Open(3));
    EXPECT_EQ(port.LastError(), "audio input 3 does not exist");
    EXPECT_FALSE(port.Open(-1));
    ASSERT_TRUE(port.Open(2));
    EXPECT_EQ(port.LastError(), "");
}

TEST_F(TakeTest, SwitchingClosesTheDeviceBeforeAndAFailureIsTold)
{
    AudioDeviceList devices;
    devices.push_back(std::make_unique<WavFileDevice>("Mic A", Sine(8000, 1.0, 200.0, 0.2f)));
    devices.push_back(std::make_unique<WavFileDevice>(
        "Mic B", Sine(8000, 1.0, 300.0, 0.8f), WavFileDevice::Options{.isDefault = true, .loop = true}));
    devices.push_back(std::make_unique<WavFileDevice>("Busy mic", Sine(8000, 1.0, 300.0),
                                                      WavFileDevice::Options{.canOpen = false}));
    AudioInputs inputs(std::move(devices));
    EXPECT_EQ(inputs.DeviceCount(), 3);
    EXPECT_EQ(inputs.DefaultDevice(), 1);
    EXPECT_EQ(inputs.Device(3), nullptr);
    auto& a = dynamic_cast<WavFileDevice&>(*inputs.Device(0));
    auto& b = dynamic_cast<WavFileDevice&>(*inputs.Device(1));

    AudioInputPort port(inputs);
    EXPECT_EQ(port.TakePeak(), 0.0f);
    ASSERT_TRUE(port.Open(0));
    ASSERT_TRUE(port.Open(1));
    EXPECT_EQ(a.CloseCount(), 1);
    EXPECT_FALSE(a.IsOpen());
    ASSERT_GE(ReadAtLeast(port, 400).size(), 400u);
    EXPECT_GT(port.TakePeak(), 0.5f);  // B's level, not A's

    EXPECT_FALSE(port.Failed());
    b.Fail();
    EXPECT_TRUE(port.Failed());
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.LastError(), "Mic B: the device stopped delivering sound");
    // A failed device delivers nothing more.
    port.Discard();
    std::this_thread::sleep_for(50ms);
    float sample = 0;
    EXPECT_EQ(port.Read(&sample, 1), 0u);
    // Closing keeps the reason; opening it again starts afresh.
    port.Close();
    EXPECT_FALSE(port.Failed());
    EXPECT_EQ(port.LastError(), "Mic B: the device stopped delivering sound");
    ASSERT_TRUE(port.Open(1));
    EXPECT_FALSE(port.Failed());
    EXPECT_EQ(port.LastError(), "");

    EXPECT_FALSE(port.Open(2));
    EXPECT_EQ(port.LastError(), "Busy mic: the device is busy");
}

TEST(AudioInputsTest, TheProviderReplacesTheSystemsDevices)
{
    AudioInputs::SetDeviceProvider([] {
        AudioDeviceList devices;
        devices.push_back(std::make_unique<WavFileDevice>("Provided", WavAudio{8000, {0.0f}}));
        return devices;
    });
    AudioInputs inputs;
    AudioInputs::SetDeviceProvider({});
    ASSERT_EQ(inputs.DeviceCount(), 1);
    EXPECT_EQ(inputs.Device(0)->Name(), "Provided");
    EXPECT_EQ(inputs.DefaultDevice(), -1);
}

}  // namespace

// The desktop's and ALSA's inputs come from a module loaded at run time: it
// must be found, and listing opens nothing.
TEST(AudioInputsTest, TheRtAudioModuleLoadsAndListsInputsUnopened)
{
    const AddRtAudioInputsFunction addRtAudioInputs = RtAudioInputs();
    ASSERT_NE(addRtAudioInputs, nullptr);
    AudioDeviceList devices;
    devices.push_back(std::make_unique<WavFileDevice>("earlier", "no-such-take.wav"));
    addRtAudioInputs(devices);
    ASSERT_GE(devices.size(), 1u);
    EXPECT_EQ(devices.front()->Name(), "earlier");  // added after what was there
    for (const auto& device : devices) {
        EXPECT_FALSE(device->Name().empty());
        EXPECT_FALSE(device->IsOpen());
    }
}
