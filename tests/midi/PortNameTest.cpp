// The names under which the system's ports appear in the device list.
#include <gtest/gtest.h>

#include "midi/PortDevice.h"

namespace {

using vocarine::DeviceNameLimit;
using vocarine::DisplayPortName;
using vocarine::PortSystem;

struct NameCase {
    PortSystem system;
    const char* reported;  // as RtMidi reports it
    const char* shown;
};

class PortNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortNames, AreRecognisableWithinTheDeviceListsLimit)
{
    const NameCase& c = GetParam();
    const std::string shown = DisplayPortName(c.system, c.reported);
    EXPECT_EQ(shown, c.shown);
    EXPECT_LE(shown.size(), DeviceNameLimit);
}

INSTANTIATE_TEST_SUITE_P(
    SystemNames, PortNames,
    ::testing::Values(
        // ALSA: "client:port client-number:port-number"
        NameCase{PortSystem::AlsaSequencer, "Midi Through:Midi Through Port-0 14:0", "Midi Through Port-0"},
        NameCase{PortSystem::AlsaSequencer, "FLUID Synth (1234):Synth input port (1234:0) 128:0",
                 "FLUID Synth (1234):Synth input"},
        NameCase{PortSystem::AlsaSequencer, "Digital Piano:Digital Piano MIDI 1 24:0", "Digital Piano MIDI 1"},
        NameCase{PortSystem::AlsaSequencer, "TiMidity:TiMidity port 0 128:0", "TiMidity port 0"},
        // JACK: "client:port"
        NameCase{PortSystem::Jack, "vocarine-receiver:midi_in", "vocarine-receiver:midi_in"},
        NameCase{PortSystem::Jack, "a2j:Midi Through [14] (capture): Midi Through Port-0", "a2j:Midi Through Port-0"},
        NameCase{PortSystem::Jack, "fluidsynth-midi:midi_00", "fluidsynth-midi:midi_00"},
        NameCase{PortSystem::Jack, "a-client-name-that-goes-on-and-on-and-on:in", "a-client-name-that-goes-on-a:in"}));

}  // namespace
