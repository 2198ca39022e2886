#include "core/Keys.h"

#include "core/Random.h"

namespace vocarine {

namespace {

// Do of the table's lowest octave sounds as MIDI key 48 in C.
constexpr int32_t LowestDoKey = 48;

const char* const KeyItems[KeyItemCount] = {"B", "Bb", "A", "Ab", "G", "F#", "F", "E", "Eb", "D", "C#", "C"};

}  // namespace

uint8_t CellNoteKey(const TrainerState& state, const NoteRef& note)
{
    const int32_t semitone = state.NoteTable[NoteIndex(note.degree, note.accidental)].semitone;
    return static_cast<uint8_t>((semitone + state.KeyOffset + LowestDoKey) & 0xFF);
}

uint8_t TonicKey(int32_t keyOffset)
{
    return static_cast<uint8_t>((keyOffset + LowestDoKey + 12) & 0xFF);
}

// The list runs down from B to C, with Bb tucked in after B: offsets below C wrap
// to the top of the octave.
int KeyToItem(int32_t keyOffset)
{
    const int32_t k = keyOffset < 0 ? keyOffset + 12 : keyOffset;
    return 11 - k;
}

int32_t ItemToKey(int item)
{
    const int32_t key = 11 - item;
    return key > 9 ? key - 12 : key;
}

const char* KeyItemText(int item)
{
    return item >= 0 && item < KeyItemCount ? KeyItems[item] : "";
}

int32_t DrawNewKey(int32_t old)
{
    int32_t key = 0;
    do {
        key = PickRandom(12) - 2;
    } while (key == old);
    return key;
}

}  // namespace vocarine
