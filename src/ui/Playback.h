// Playing a cell and the tonic through the output port. The notes go out
// legato and of equal length; the last note and the tonic are left sounding.
#pragma once

#include <cstdint>
#include <functional>

#include "core/PreciseWait.h"
#include "core/TrainerState.h"
#include "midi/MaxMidi.h"

// Holds a note until the deadline. False ends the cell there: the note that
// sounds is ended and no further note is played.
using NoteWait = std::function<bool(vocarine::SteadyClock::time_point deadline)>;

// Plays Cells[CurrentCell]. `noteLength` gives W in milliseconds and is asked
// afresh for every note. Returns once the last note-on has been put. Without
// `wait` the notes are held by the precise wait alone, on the calling thread.
void PlayCellNotes(vocarine::TMaxMidiOut& out, const vocarine::TrainerState& state,
                   const std::function<int()>& noteLength, const NoteWait& wait = {});

// One note-on for do of the current key.
void PlayTonic(vocarine::TMaxMidiOut& out, int32_t keyOffset);
