#include "ui/Playback.h"

#include <algorithm>
#include <chrono>

#include "core/Keys.h"
#include "core/PreciseWait.h"

using namespace vocarine;

void PlayCellNotes(TMaxMidiOut& out, const TrainerState& state, const std::function<int()>& noteLength,
                   const NoteWait& wait)
{
    // A place past the book may hold a cell of an earlier book: it is not played.
    if (!IsInBook(state, state.CurrentCell))
        return;
    const Cell& cell = state.Cells[state.CurrentCell];
    const int n = std::clamp<int>(cell.count, 0, MaxNotes);
    if (n == 0)
        return;  // nothing to sound, and no last note to leave ringing

    // Every note but the last: note-on, hold W ms, note-off of the same record.
    for (int i = 0; i < n - 1; ++i) {
        MidiEvent event{SendNow, NoteOnStatus, CellNoteKey(state, cell.notes[i]), NoteVelocity, 0};
        out.PutMidiOut(&event);
        // The note is timed from the moment its note-on has left, so the
        // note-off can never come sooner than W after it.
        const auto noteOnSent = SteadyClock::now();
        const int w = std::max(0, noteLength());
        const auto noteEnds = noteOnSent + std::chrono::milliseconds(w);
        bool goOn = true;
        if (wait)
            goOn = wait(noteEnds);
        else
            WaitUntil(noteEnds);
        event.status = NoteOffStatus;
        out.PutMidiOut(&event);
        if (!goOn)
            return;
    }

    // The last note is left sounding.
    MidiEvent last{SendNow, NoteOnStatus, CellNoteKey(state, cell.notes[n - 1]), NoteVelocity, 0};
    out.PutMidiOut(&last);
}

void PlayTonic(TMaxMidiOut& out, int32_t keyOffset)
{
    MidiEvent event{SendNow, NoteOnStatus, TonicKey(keyOffset), NoteVelocity, 0};
    out.PutMidiOut(&event);
}
