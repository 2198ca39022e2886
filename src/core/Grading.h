// Grading a sung take: the pitch track of the singer is cut into sung notes,
// the sung notes are aligned with the written notes of the cell, and every
// written note gets a verdict and its distance in cents. Plain functions of a
// pitch track and a cell, so a table of tracks tests them without sound.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/CellBook.h"
#include "core/NoteTable.h"

namespace vocarine {

// One hop of the pitch tracker: when it was heard, in seconds from the start
// of listening, and the sung pitch as a fractional MIDI key number (60.0 is
// middle C, 60.5 a quarter tone above it), or 0 when nothing voiced was heard.
struct PitchFrame {
    double time = 0.0;
    double midi = 0.0;
};

using PitchTrack = std::vector<PitchFrame>;

// A stretch of the track sung on one pitch.
struct SungNote {
    double start = 0.0;   // seconds, first frame of the stretch
    double end = 0.0;     // seconds, end of its last frame
    double midi = 0.0;    // median of its steady middle, fractional MIDI key
};

// Cuts a pitch track into sung notes: voiced stretches of at least 80 ms,
// split where the pitch moves by more than about 70 cents and stays there.
std::vector<SungNote> FindSungNotes(const PitchTrack& track);

enum class Verdict { InTune, Flat, Sharp, Wrong, Missed };

// "in tune", "flat", "sharp", "wrong", "missed"
const char* VerdictName(Verdict verdict);

struct NoteGrade {
    std::string syllable;          // the written note's syllable, "re"
    Verdict verdict = Verdict::Missed;
    std::optional<double> cents;   // sung minus written, signed; empty when missed
};

struct CellGrade {
    std::vector<NoteGrade> notes;  // one per written note, in order
    std::string summary;           // "4 of 5 notes in tune - re 38 cents flat"
};

// Written pitch of a note of the book in a key, as a MIDI key number
// (the same number playback sends for it).
double WrittenMidi(const NoteTableArray& table, const NoteRef& note, int32_t keyOffset);

// Moves `midi` by whole octaves to lie as close as possible to `target`.
double FoldToOctaveOf(double midi, double target);

// Grades sung notes against the cell as heard in `keyOffset`. With `anyOctave`
// each sung note is folded by octaves toward the written note it is matched with.
CellGrade GradeSungNotes(const std::vector<SungNote>& sung, const Cell& cell,
                         const NoteTableArray& table, int32_t keyOffset, bool anyOctave);

// FindSungNotes, then GradeSungNotes.
CellGrade GradeCell(const PitchTrack& track, const Cell& cell, const NoteTableArray& table,
                    int32_t keyOffset, bool anyOctave);

}  // namespace vocarine
