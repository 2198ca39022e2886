// A take: what the singer sang while the trainer listened, when the take
// ends by itself, and where its pitches stand on the staff.
#pragma once

#include <cstdint>
#include <optional>

#include "core/CellBook.h"
#include "core/Grading.h"
#include "core/NoteTable.h"

namespace vocarine {

struct TakeLimits {
    double quietAfterNote = 1.5;  // seconds without singing after a sung note that end a take
    double longest = 20.0;        // seconds a take may last at most
    double shortestNote = 0.08;   // a voiced stretch this long is a sung note
};

enum class TakeEnd {
    Running,   // goes on
    Quiet,     // a note was sung and then nothing for quietAfterNote seconds
    TimeUp,    // longest reached
};

class Take {
public:
    // A take that ends by itself (the Sing button) or only when told (AutoDrive).
    explicit Take(bool endsByItself, TakeLimits limits = {});

    // Appends frames of the pitch tracker, in time order.
    void Add(const PitchTrack& frames);

    // Whether the take is over, `elapsed` seconds after it began by the clock.
    // The time limit is counted by the clock, so a device that stops
    // delivering cannot keep a take open; the quiet after a note is counted
    // in the take's own time, so a stall of the window does not end it early.
    TakeEnd Due(double elapsed) const;

    const PitchTrack& Track() const { return track_; }
    bool HeardANote() const { return heardNote_; }

private:
    bool endsByItself_;
    TakeLimits limits_;
    PitchTrack track_;
    bool heardNote_ = false;
    double lastSung_ = 0.0;                // time of the last voiced frame of a sung note
    std::optional<double> stretchStart_;   // first frame of the voiced stretch going on
};

// Semitones of a sung pitch above the lowest do of the note table in a key:
// the number the cell view turns into a label's height.
double StaffSemitone(double midi, int32_t keyOffset);

// The middle of a cell's written range, in the same semitones; nullopt for a
// cell without a note of the table.
std::optional<double> CellMiddleSemitone(const Cell& cell, const NoteTableArray& table);

}  // namespace vocarine
