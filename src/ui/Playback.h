// Playing a cell and the tonic through the output port. The notes go out
// legato and of equal length; the last note and the tonic are left sounding.
#pragma once

#include <cstdint>
#include <functional>

#include "core/TrainerState.h"
#include "midi/MaxMidi.h"

// Plays Cells[CurrentCell]. `noteLength` gives W in milliseconds and is asked
// afresh for every note. Returns once the last note-on has been put.
void PlayCellNotes(vocarine::TMaxMidiOut& out, const vocarine::TrainerState& state,
                   const std::function<int()>& noteLength);

// One note-on for do of the current key.
void PlayTonic(vocarine::TMaxMidiOut& out, int32_t keyOffset);
