// Keys: MIDI key numbers of cell notes and of the tonic, and the list of the
// twelve keys of the New Tonic dialog.
#pragma once

#include <cstdint>

#include "core/TrainerState.h"

namespace vocarine {

constexpr int KeyItemCount = 12;

// Key number of a note of the cell book in the current key (45..93 within limits).
uint8_t CellNoteKey(const TrainerState& state, const NoteRef& note);

// Do of the current key, an octave above the lowest do of the table (58..69).
uint8_t TonicKey(int32_t keyOffset);

// Item of the key list ("B", "Bb", "A", ... "C") showing a KeyOffset, and back.
int KeyToItem(int32_t keyOffset);
int32_t ItemToKey(int item);
const char* KeyItemText(int item);

// A new KeyOffset in -2..9, drawn with PickRandom, never equal to `old`.
int32_t DrawNewKey(int32_t old);

}  // namespace vocarine
