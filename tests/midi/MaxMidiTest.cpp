// The output port and the device list over recording devices: what a put,
// an open, a reset and a close do, whichever device is behind them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "midi/Backends.h"
#include "midi/MaxMidi.h"
#include "midi/RecordingDevice.h"

namespace {

using namespace vocarine;

struct Recorders {
    std::vector<RecordingDevice*> devices;  // owned by the TMaxMidi
    std::unique_ptr<TMaxMidi> midi;
};

Recorders MakeMidi(std::vector<std::pair<std::string, bool>> specs)
{
    Recorders result;
    MidiDeviceList list;
    for (auto& [name, canOpen] : specs) {
        auto device = std::make_unique<RecordingDevice>(name, canOpen);
        result.devices.push_back(device.get());
        list.push_back(std::move(device));
    }
    result.midi = std::make_unique<TMaxMidi>(std::move(list));
    return result;
}

MidiEvent Note(uint8_t status, uint8_t key)
{
    return MidiEvent{SendNow, status, key, NoteVelocity, 0};
}

std::vector<std::string> Descriptions(const TMaxMidi& midi)
{
    std::vector<std::string> names;
    char buffer[32];
    for (int i = 0; midi.GetMidiOutDescription(i, buffer, sizeof buffer) != 0; ++i)
        names.emplace_back(buffer);
    return names;
}

TEST(DeviceList, DescribesEveryDeviceInOrderAndAnswersZeroPastTheLast)
{
    auto r = MakeMidi({{"Built-in synthesizer", true}, {"Midi Through Port-0", true}, {"vocarine:midi_in", true}});
    EXPECT_EQ(r.midi->DeviceCount(), 3);
    EXPECT_EQ(Descriptions(*r.midi),
              (std::vector<std::string>{"Built-in synthesizer", "Midi Through Port-0", "vocarine:midi_in"}));
    char buffer[32] = "untouched";
    EXPECT_EQ(r.midi->GetMidiOutDescription(3, buffer, sizeof buffer), 0);
    EXPECT_EQ(r.midi->GetMidiOutDescription(-1, buffer, sizeof buffer), 0);
    EXPECT_EQ(r.midi->Device(3), nullptr);
}

TEST(DeviceList, CutsNamesToTheBufferWithoutSplittingACharacter)
{
    const std::string longName = "A device with a name far longer than thirty-one characters";
    // 30 ASCII characters, then a two-byte character that does not fit in 31 bytes.
    const std::string accented = std::string(30, 'x') + "\xC3\xA9" + "tude";
    auto r = MakeMidi({{longName, true}, {accented, true}});
    char buffer[32];
    ASSERT_NE(r.midi->GetMidiOutDescription(0, buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer), longName.substr(0, 31));
    ASSERT_NE(r.midi->GetMidiOutDescription(1, buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer), std::string(30, 'x'));
    char tiny[5];
    ASSERT_NE(r.midi->GetMidiOutDescription(0, tiny, sizeof tiny), 0);
    EXPECT_STREQ(tiny, "A de");
    EXPECT_THROW(r.midi->GetMidiOutDescription(0, nullptr, 32), EMaxMidiException);
}

TEST(DeviceList, ComesFromTheProviderWhenOneIsSet)
{
    TMaxMidi::SetDeviceProvider([] {
        MidiDeviceList list;
        list.push_back(std::make_unique<RecordingDevice>("From the provider"));
        return list;
    });
    TMaxMidi midi;
    TMaxMidi::SetDeviceProvider({});
    EXPECT_EQ(Descriptions(midi), std::vector<std::string>{"From the provider"});
}

// While start-up work is held, the ports are not listed; whoever needs the
// list (or lets the layer go) ends the hold instead of waiting on it forever.
TEST(DeviceList, HeldStartUpWorkWaitsUntilTheListIsNeeded)
{
    for (const bool needList : {true, false}) {
        std::atomic<bool> listed{false};
        TMaxMidi::SetDeviceProvider(
            [] {
                MidiDeviceList list;
                list.push_back(std::make_unique<RecordingDevice>("At once"));
                return list;
            },
            [&listed] {
                listed = true;
                MidiDeviceList list;
                list.push_back(std::make_unique<RecordingDevice>("Later"));
                return list;
            });
        HoldStartupWork();
        {
            TMaxMidi midi;
            TMaxMidi::SetDeviceProvider({});
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_FALSE(listed);
            EXPECT_FALSE(midi.Listed());
            char name[32];
            EXPECT_EQ(midi.GetMidiOutDescription(0, name, sizeof name), 1);  // device 0 needs no list
            if (needList) {
                EXPECT_EQ(Descriptions(midi), (std::vector<std::string>{"At once", "Later"}));
                EXPECT_TRUE(listed);
            }
        }  // without the list wanted: the layer going must not hang
        ReleaseStartupWork();
    }
}

TEST(OutputPort, PutsTheRecordsBytesToTheOpenDeviceAtOnce)
{
    auto r = MakeMidi({{"first", true}, {"second", true}});
    TMaxMidiOut out(*r.midi);
    EXPECT_FALSE(out.IsOpen());
    EXPECT_GT(out.OpenMidiOut(1, OpenFlags), 32);
    EXPECT_TRUE(out.IsOpen());
    EXPECT_EQ(out.OpenDevice(), 1);
    EXPECT_TRUE(r.devices[1]->IsOpen());
    EXPECT_FALSE(r.devices[0]->IsOpen());

    MidiEvent event = Note(NoteOnStatus, 69);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(out.PutMidiOut(&event), PutSent);
    event.status = NoteOffStatus;
    EXPECT_EQ(out.PutMidiOut(&event), PutSent);

    const auto& sent = r.devices[1]->Messages();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].status, 0x90);
    EXPECT_EQ(sent[0].data1, 69);
    EXPECT_EQ(sent[0].data2, 80);
    EXPECT_EQ(sent[1].status, 0x80);
    EXPECT_EQ(sent[1].data1, 69);
    EXPECT_EQ(sent[1].data2, 80);
    // Sent during the put, not later.
    EXPECT_GE(sent[0].at, before);
    EXPECT_TRUE(r.devices[0]->Messages().empty());
}

TEST(OutputPort, SendsNothingWhileClosed)
{
    auto r = MakeMidi({{"only", true}});
    TMaxMidiOut out(*r.midi);
    MidiEvent event = Note(NoteOnStatus, 60);
    EXPECT_EQ(out.PutMidiOut(&event), PutPortClosed);

    ASSERT_GT(out.OpenMidiOut(0, OpenFlags), 32);
    out.ResetMidiOut();
    out.CloseMidiOut();
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(out.OpenDevice(), -1);
    EXPECT_EQ(out.PutMidiOut(&event), PutPortClosed);
    EXPECT_TRUE(r.devices[0]->Messages().empty());
    EXPECT_EQ(r.devices[0]->ResetCount(), 1);
    EXPECT_EQ(r.devices[0]->CloseCount(), 1);
    EXPECT_FALSE(r.devices[0]->IsOpen());
    // Reset and close of a closed port do nothing.
    out.ResetMidiOut();
    out.CloseMidiOut();
    EXPECT_EQ(r.devices[0]->ResetCount(), 1);
    EXPECT_EQ(r.devices[0]->CloseCount(), 1);
}

TEST(OutputPort, RefusesWhatItCannotSendAtOnceOrIsNoChannelMessage)
{
    struct Case {
        const char* what;
        MidiEvent event;
        int result;
    };
    const Case cases[] = {
        {"time stamp in the future", {1000, 0x90, 60, 80, 0}, PutNotSendNow},
        {"time stamp zero", {0, 0x90, 60, 80, 0}, PutNotSendNow},
        {"data byte as status", {SendNow, 0x40, 60, 80, 0}, PutNotAMessage},
        {"system exclusive", {SendNow, 0xF0, 60, 80, 0}, PutNotAMessage},
        {"key above 127", {SendNow, 0x90, 200, 80, 0}, PutNotAMessage},
        {"velocity above 127", {SendNow, 0x90, 60, 128, 0}, PutNotAMessage},
    };
    auto r = MakeMidi({{"only", true}});
    TMaxMidiOut out(*r.midi);
    ASSERT_GT(out.OpenMidiOut(0, OpenFlags), 32);
    for (const Case& c : cases) {
        MidiEvent event = c.event;
        EXPECT_EQ(out.PutMidiOut(&event), c.result) << c.what;
    }
    EXPECT_TRUE(r.devices[0]->Messages().empty());
    EXPECT_THROW(out.PutMidiOut(nullptr), EMaxMidiException);
}

TEST(OutputPort, FailedOpenLeavesThePortClosedAndSaysWhichDeviceAndWhy)
{
    auto r = MakeMidi({{"works", true}, {"Broken keyboard", false}});
    TMaxMidiOut out(*r.midi);
    EXPECT_LE(out.OpenMidiOut(1, OpenFlags), 32);
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(out.LastOpenError(), "Broken keyboard: the device refuses to open");
    MidiEvent event = Note(NoteOnStatus, 60);
    EXPECT_EQ(out.PutMidiOut(&event), PutPortClosed);

    EXPECT_LE(out.OpenMidiOut(7, OpenFlags), 32);
    EXPECT_EQ(out.LastOpenError(), "MIDI output device 7 does not exist");

    EXPECT_GT(out.OpenMidiOut(0, OpenFlags), 32);
    EXPECT_TRUE(out.IsOpen());
    EXPECT_EQ(out.LastOpenError(), "");
}

TEST(OutputPort, OpeningAnotherDeviceEndsTheNotesOnTheFirst)
{
    auto r = MakeMidi({{"first", true}, {"second", true}, {"broken", false}});
    TMaxMidiOut out(*r.midi);
    ASSERT_GT(out.OpenMidiOut(0, OpenFlags), 32);
    ASSERT_GT(out.OpenMidiOut(1, OpenFlags), 32);
    EXPECT_EQ(r.devices[0]->ResetCount(), 1);
    EXPECT_EQ(r.devices[0]->CloseCount(), 1);
    EXPECT_FALSE(r.devices[0]->IsOpen());
    EXPECT_EQ(out.OpenDevice(), 1);

    // A failed open over an open port leaves it closed, not on the old device.
    EXPECT_LE(out.OpenMidiOut(2, OpenFlags), 32);
    EXPECT_FALSE(out.IsOpen());
    EXPECT_FALSE(r.devices[1]->IsOpen());
}

TEST(OutputPort, ResetsAndClosesTheOpenDeviceWhenDestroyed)
{
    auto r = MakeMidi({{"only", true}});
    {
        TMaxMidiOut out(*r.midi);
        ASSERT_GT(out.OpenMidiOut(0, OpenFlags), 32);
    }
    EXPECT_EQ(r.devices[0]->ResetCount(), 1);
    EXPECT_EQ(r.devices[0]->CloseCount(), 1);
    EXPECT_FALSE(r.devices[0]->IsOpen());
}

TEST(RecordingDeviceTest, DropsMessagesWhenFullRatherThanAllocating)
{
    RecordingDevice device("small", true, 2);
    ASSERT_TRUE(device.Open());
    const auto capacity = device.Messages().capacity();
    for (std::size_t i = 0; i < capacity; ++i)
        EXPECT_TRUE(device.Send(0x90, 60, 80));
    EXPECT_FALSE(device.Send(0x80, 60, 80));
    EXPECT_EQ(device.Messages().size(), capacity);
    EXPECT_EQ(device.Messages().capacity(), capacity);
}

}  // namespace
