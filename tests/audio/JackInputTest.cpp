// The JACK inputs against the tests' private dummy JACK server: a client that
// plays audio shows in the device list, opening it connects it to our client
// "vocarine", its samples arrive as played, and its leaving is a failure.
#include <gtest/gtest.h>

#include <jack/jack.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

#include "../midi/JackTestClients.h"
#include "audio/AudioInput.h"
#include "audio/SystemInputs.h"

namespace {

using vocarine::AudioDeviceList;
using vocarine::AudioInputPort;
using vocarine::AudioInputs;
using vocarine::ListJackSources;
using vocarine::MakeJackInput;
using vocarine::SampleRing;
using namespace std::chrono_literals;
using vocarine::testing::JackAudioPlayer;
using vocarine::testing::TestServerName;

// A ramp that says, in every sample, where in the take it is.
std::vector<float> Ramp(std::size_t count)
{
    std::vector<float> values(count);
    for (std::size_t i = 0; i < count; ++i)
        values[i] = static_cast<float>(i + 1) / 1024.0f;
    return values;
}

// Reads until `count` samples that are not silence came in, or the time is
// up; what came before the first sound (the connection settling) is skipped.
std::vector<float> ReadSound(AudioInputPort& port, std::size_t count, std::chrono::milliseconds timeout = 5s)
{
    std::vector<float> got;
    std::vector<float> chunk(4096);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::size_t n = port.Read(chunk.data(), chunk.size());
        auto first = chunk.begin();
        if (got.empty())
            first = std::find_if(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n),
                                 [](float v) { return v != 0.0f; });
        got.insert(got.end(), first, chunk.begin() + static_cast<std::ptrdiff_t>(n));
        if (n == 0)
            std::this_thread::sleep_for(2ms);
    }
    return got;
}

// Index of the device named `name`, -1 when the list has none.
int IndexOf(const AudioInputs& inputs, const std::string& name)
{
    for (int i = 0; i < inputs.DeviceCount(); ++i)
        if (inputs.Device(i)->Name() == name)
            return i;
    return -1;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class JackInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TestServerName().empty())
            GTEST_SKIP() << "run through CTest: it starts the private JACK server";
    }
};

TEST_F(JackInputTest, APlayingClientIsListedByNameAfterTheServersOwnPorts)
{
    JackAudioPlayer singer("take-player", Ramp(1024));
    ASSERT_TRUE(singer.Ok());
    // The program's own clients play, but are not listened to.
    JackAudioPlayer synthesizer("vocarine-synth", Ramp(16));
    ASSERT_TRUE(synthesizer.Ok());
    const auto sources = ListJackSources();
    ASSERT_TRUE(sources.has_value());
    // The dummy driver's capture ports belong to "system".
    EXPECT_NE(std::find(sources->begin(), sources->end(), "system"), sources->end());
    EXPECT_NE(std::find(sources->begin(), sources->end(), singer.ClientName()), sources->end());
    EXPECT_EQ(std::count(sources->begin(), sources->end(), singer.ClientName()), 1);
    EXPECT_EQ(std::find(sources->begin(), sources->end(), "vocarine-synth"), sources->end());

    AudioInputs inputs;  // the system's list: JACK comes last, by client name
    const int index = IndexOf(inputs, singer.ClientName());
    ASSERT_GE(index, 0);
    EXPECT_FALSE(inputs.Device(index)->IsDefaultInput());
    EXPECT_EQ(inputs.Device(inputs.DeviceCount() - 1)->Name(), sources->back());

    // A client gone is listed no more.
    singer.Close();
    const auto after = ListJackSources();
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(std::find(after->begin(), after->end(), "take-player"), after->end());
}

TEST_F(JackInputTest, OpeningConnectsTheClientAndItsSamplesArriveAsPlayed)
{
    const std::vector<float> take = Ramp(3000);
    JackAudioPlayer singer("take-player", take);
    ASSERT_TRUE(singer.Ok());
    AudioDeviceList devices;
    devices.push_back(MakeJackInput(singer.ClientName()));
    AudioInputs inputs(std::move(devices));
    AudioInputPort port(inputs);
    ASSERT_TRUE(port.Open(0)) << port.LastError();
    EXPECT_EQ(port.SampleRate(), singer.SampleRate());

    // Our client is "vocarine", its port connected to the player's.
    jack_status_t status{};
    jack_client_t* look = jack_client_open("look", JackNoStartServer, &status);
    ASSERT_NE(look, nullptr);
    jack_port_t* ours = jack_port_by_name(look, "vocarine:in_1");
    ASSERT_NE(ours, nullptr);
    EXPECT_TRUE(jack_port_connected_to(ours, (singer.ClientName() + ":out_1").c_str()));
    const std::size_t cycle = jack_get_buffer_size(look);
    jack_client_close(look);

    // Sample for sample, the looped take goes round and round. A loaded
    // machine may make the server skip a late client for a cycle: the take
    // may jump then, but only from one whole cycle to the next.
    const std::vector<float> got = ReadSound(port, 8000);
    ASSERT_GE(got.size(), 8000u);
    std::size_t jumps = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const float position = got[i] * 1024.0f;
        ASSERT_EQ(position, std::round(position)) << "sample " << i << " is not one of the take";
        ASSERT_GE(position, 1.0f);
        ASSERT_LE(position, static_cast<float>(take.size()));
        if (i == 0)
            continue;
        const auto expected = static_cast<std::size_t>(std::lround(got[i - 1] * 1024.0f)) % take.size();
        if (got[i] != take[expected]) {
            ++jumps;
            EXPECT_EQ(i % cycle, 0u) << "sample " << i << " jumps within a cycle";
        }
    }
    EXPECT_LT(jumps, got.size() / cycle / 4);
    EXPECT_NEAR(port.TakePeak(), take.back(), 1e-4);
    EXPECT_FALSE(port.Failed());
}

TEST_F(JackInputTest, TheChannelsOfAStereoClientAreMixedToOne)
{
    const std::vector<float> take(2048, 0.5f);
    JackAudioPlayer singer("stereo-player", take, 2, true, {1.0f, 0.2f});
    ASSERT_TRUE(singer.Ok());
    AudioDeviceList devices;
    devices.push_back(MakeJackInput(singer.ClientName()));
    AudioInputs inputs(std::move(devices));
    AudioInputPort port(inputs);
    ASSERT_TRUE(port.Open(0)) << port.LastError();
    const std::vector<float> got = ReadSound(port, 16000);
    ASSERT_GE(got.size(), 16000u);
    // The two connections may take effect some cycles apart: until both
    // have, one channel alone comes through; from then on each sample is the
    // mean of the two channels.
    const float both = (0.5f + 0.1f) / 2;
    const auto first = std::find(got.begin(), got.end(), both);
    ASSERT_NE(first, got.end());
    for (auto it = got.begin(); it != first; ++it)
        ASSERT_TRUE(*it == 0.5f / 2 || *it == 0.1f / 2) << "sample " << it - got.begin() << ": " << *it;
    for (auto it = first; it != got.end(); ++it)
        ASSERT_FLOAT_EQ(*it, both) << "sample " << it - got.begin();
}

TEST_F(JackInputTest, AClientThatLeavesMakesTheInputFailAndANameNotThereFailsToOpen)
{
    JackAudioPlayer singer("take-player", Ramp(1000));
    ASSERT_TRUE(singer.Ok());
    const std::string name = singer.ClientName();
    AudioDeviceList devices;
    devices.push_back(MakeJackInput(name));
    devices.push_back(MakeJackInput("nobody-here"));
    AudioInputs inputs(std::move(devices));
    AudioInputPort port(inputs);
    ASSERT_TRUE(port.Open(0)) << port.LastError();
    ASSERT_FALSE(ReadSound(port, 100).empty());

    singer.Close();
    ASSERT_TRUE(WaitFor([&port] { return port.Failed(); }));
    EXPECT_EQ(port.LastError(), name + ": the JACK client is gone");
    port.Close();

    EXPECT_FALSE(port.Open(1));
    EXPECT_EQ(port.LastError(), "nobody-here: the JACK client is no longer there");
    // The name came back: the device opens again.
    JackAudioPlayer again(name, Ramp(1000));
    ASSERT_TRUE(again.Ok());
    ASSERT_EQ(again.ClientName(), name);
    ASSERT_TRUE(port.Open(0)) << port.LastError();
    EXPECT_FALSE(port.Failed());
    EXPECT_FALSE(ReadSound(port, 100).empty());
}

TEST_F(JackInputTest, TakingTheConnectionAwayIsAFailure)
{
    JackAudioPlayer singer("take-player", Ramp(1000));
    ASSERT_TRUE(singer.Ok());
    AudioDeviceList devices;
    devices.push_back(MakeJackInput(singer.ClientName()));
    AudioInputs inputs(std::move(devices));
    AudioInputPort port(inputs);
    ASSERT_TRUE(port.Open(0)) << port.LastError();

    jack_status_t status{};
    jack_client_t* patchbay = jack_client_open("patchbay", JackNoStartServer, &status);
    ASSERT_NE(patchbay, nullptr);
    EXPECT_EQ(jack_disconnect(patchbay, (singer.ClientName() + ":out_1").c_str(), "vocarine:in_1"), 0);
    jack_client_close(patchbay);
    ASSERT_TRUE(WaitFor([&port] { return port.Failed(); }));
    EXPECT_EQ(port.LastError(), singer.ClientName() + ": the JACK client was disconnected");
}

TEST(JackInputWithoutServerTest, NoServerMeansNoJackInputsAndAFailedOpen)
{
    // A server name nobody runs: nothing is started, nothing is found.
    const std::string previous = TestServerName();
    setenv("JACK_DEFAULT_SERVER", "vocarine-no-such-server", 1);
    const auto sources = ListJackSources();
    SampleRing ring(16);
    auto device = MakeJackInput("system");
    const bool opened = device->Open(ring);
    const std::string error = device->LastError();
    if (previous.empty())
        unsetenv("JACK_DEFAULT_SERVER");
    else
        setenv("JACK_DEFAULT_SERVER", previous.c_str(), 1);
    EXPECT_FALSE(sources.has_value());
    EXPECT_FALSE(opened);
    EXPECT_EQ(error, "the JACK server is not running");
}

}  // namespace
