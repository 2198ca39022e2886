// The MIDI event record the program hands to the output port.
#pragma once

#include <cstdint>

namespace vocarine {

struct MidiEvent {
    uint32_t time;   // 0xFFFFFFFF: send at once
    uint8_t status;  // 0x90 note-on, 0x80 note-off, channel 1
    uint8_t data1;   // key
    uint8_t data2;   // velocity
    uint8_t data3;   // always 0
};
static_assert(sizeof(MidiEvent) == 8, "the event record is 8 bytes");

using LPMIDIEVENT = MidiEvent*;

constexpr uint32_t SendNow = 0xFFFFFFFFu;
constexpr uint8_t NoteOnStatus = 0x90;
constexpr uint8_t NoteOffStatus = 0x80;
constexpr uint8_t NoteVelocity = 80;

}  // namespace vocarine
