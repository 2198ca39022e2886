// The layer against a real JACK server: a receiving port of the test is listed,
// opened through the output port, and gets exactly the bytes put.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "JackTestClients.h"
#include "midi/Backends.h"
#include "midi/MaxMidi.h"
#include "midi/SynthDevice.h"

namespace {

using namespace vocarine;
using namespace std::chrono_literals;
using vocarine::testing::JackMidiReceiver;
using vocarine::testing::ReceivedMidi;
using vocarine::testing::TestServerName;

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> BytesOf(const std::vector<ReceivedMidi>& messages)
{
    std::vector<Bytes> bytes;
    for (const auto& m : messages)
        bytes.push_back(m.bytes);
    return bytes;
}

int IndexOf(const TMaxMidi& midi, const std::string& name)
{
    char buffer[32];
    for (int i = 0; midi.GetMidiOutDescription(i, buffer, sizeof buffer) != 0; ++i)
        if (name == buffer)
            return i;
    return -1;
}

class JackPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TestServerName().empty())
            GTEST_SKIP() << "needs the private JACK server: run through ctest";
        receiver_ = std::make_unique<JackMidiReceiver>("vocarine-receiver");
        ASSERT_TRUE(receiver_->Ok()) << "no JACK server named " << TestServerName();
    }

    int Put(TMaxMidiOut& out, uint8_t status, uint8_t key)
    {
        MidiEvent event{SendNow, status, key, NoteVelocity, 0};
        return out.PutMidiOut(&event);
    }

    std::unique_ptr<JackMidiReceiver> receiver_;
};

TEST_F(JackPort, IsListedAfterTheSynthesizerAndGetsTheExactBytesPut)
{
    TMaxMidi midi;
    char first[32];
    ASSERT_NE(midi.GetMidiOutDescription(0, first, sizeof first), 0);
    EXPECT_STREQ(first, SynthDevice::DeviceName);
    const int index = IndexOf(midi, receiver_->PortName());
    ASSERT_GT(index, 0) << receiver_->PortName() << " is not in the device list";

    TMaxMidiOut out(midi);
    ASSERT_GT(out.OpenMidiOut(static_cast<uint16_t>(index), OpenFlags), 32) << out.LastOpenError();
    EXPECT_EQ(receiver_->Connections(), 1);
    EXPECT_EQ(Put(out, NoteOnStatus, 60), PutSent);
    EXPECT_EQ(Put(out, NoteOffStatus, 60), PutSent);
    EXPECT_EQ(Put(out, NoteOnStatus, 93), PutSent);

    const auto received = receiver_->WaitFor(3, 2s);
    EXPECT_EQ(BytesOf(received), (std::vector<Bytes>{{0x90, 60, 80}, {0x80, 60, 80}, {0x90, 93, 80}}));
}

TEST_F(JackPort, ResetEndsTheSoundingNotesAndCloseDisconnects)
{
    TMaxMidi midi;
    const int index = IndexOf(midi, receiver_->PortName());
    ASSERT_GT(index, 0);
    TMaxMidiOut out(midi);
    ASSERT_GT(out.OpenMidiOut(static_cast<uint16_t>(index), OpenFlags), 32) << out.LastOpenError();
    Put(out, NoteOnStatus, 60);
    Put(out, NoteOffStatus, 60);
    Put(out, NoteOnStatus, 64);
    Put(out, NoteOnStatus, 67);
    ASSERT_EQ(receiver_->WaitFor(4, 2s).size(), 4u);

    out.ResetMidiOut();
    out.CloseMidiOut();
    EXPECT_FALSE(out.IsOpen());
    const auto received = BytesOf(receiver_->WaitFor(6, 2s));
    ASSERT_EQ(received.size(), 6u);
    // Only the notes still sounding are ended, each once.
    EXPECT_EQ(std::vector<Bytes>(received.begin() + 4, received.end()),
              (std::vector<Bytes>{{0x80, 64, 80}, {0x80, 67, 80}}));

    EXPECT_EQ(receiver_->Connections(), 0);
    EXPECT_EQ(Put(out, NoteOnStatus, 72), PutPortClosed);
    EXPECT_EQ(receiver_->CollectFor(100ms).size(), 6u);
}

TEST_F(JackPort, IsFoundByNameWhenTheOtherPortsHaveMoved)
{
    auto before = std::make_unique<JackMidiReceiver>("vocarine-receiver-a");
    ASSERT_TRUE(before->Ok());
    TMaxMidi midi;
    const int index = IndexOf(midi, receiver_->PortName());
    ASSERT_GT(index, 0);
    ASSERT_GT(IndexOf(midi, before->PortName()), 0);

    // A port listed before ours goes away: ours now has another number in the system.
    before.reset();
    TMaxMidiOut out(midi);
    ASSERT_GT(out.OpenMidiOut(static_cast<uint16_t>(index), OpenFlags), 32) << out.LastOpenError();
    Put(out, NoteOnStatus, 62);
    EXPECT_EQ(BytesOf(receiver_->WaitFor(1, 2s)), (std::vector<Bytes>{{0x90, 62, 80}}));
}

TEST_F(JackPort, ThatVanishedAfterListingFailsToOpenAndSaysSo)
{
    TMaxMidi midi;
    const std::string name = receiver_->PortName();
    const int index = IndexOf(midi, name);
    ASSERT_GT(index, 0);
    receiver_->Close();

    TMaxMidiOut out(midi);
    EXPECT_LE(out.OpenMidiOut(static_cast<uint16_t>(index), OpenFlags), 32);
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(out.LastOpenError(), name + ": the port is no longer there");
    EXPECT_EQ(Put(out, NoteOnStatus, 60), PutPortClosed);

    // Another device still opens afterwards.
    auto other = std::make_unique<JackMidiReceiver>("vocarine-receiver-b");
    ASSERT_TRUE(other->Ok());
    TMaxMidi relisted;
    const int otherIndex = IndexOf(relisted, other->PortName());
    ASSERT_GT(otherIndex, 0);
    TMaxMidiOut again(relisted);
    EXPECT_GT(again.OpenMidiOut(static_cast<uint16_t>(otherIndex), OpenFlags), 32) << again.LastOpenError();
}

// The waits after an open and before a close hold even when the client that
// counts the server's cycles cannot be opened: by the clock, then, as long as
// the cycles take. Without them the first notes after an open, and a reset's
// note-offs before a close, can be lost.
TEST_F(JackPort, SettleWaitsHoldByTheClockWhenTheCycleCounterCannotOpen)
{
    const JackCycleCounter counting;
    ASSERT_TRUE(counting.Ok());
    struct Refusal {
        Refusal() { JackCycleCounter::RefuseClientForTesting(true); }
        ~Refusal() { JackCycleCounter::RefuseClientForTesting(false); }
    } refusal;
    const JackCycleCounter refused;
    ASSERT_FALSE(refused.Ok());
    EXPECT_EQ(refused.Period(), counting.Period());  // learnt from the server all the same

    const auto start = std::chrono::steady_clock::now();
    refused.WaitCycles(2, 1s);
    // The cycle running now and two whole ones.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 3 * refused.Period());

    TMaxMidi midi;
    const int index = IndexOf(midi, receiver_->PortName());
    ASSERT_GT(index, 0);
    TMaxMidiOut out(midi);
    ASSERT_GT(out.OpenMidiOut(static_cast<uint16_t>(index), OpenFlags), 32) << out.LastOpenError();
    Put(out, NoteOnStatus, 60);
    Put(out, NoteOnStatus, 64);
    out.ResetMidiOut();
    out.CloseMidiOut();
    EXPECT_EQ(BytesOf(receiver_->WaitFor(4, 2s)),
              (std::vector<Bytes>{{0x90, 60, 80}, {0x90, 64, 80}, {0x80, 60, 80}, {0x80, 64, 80}}));
}

}  // namespace
