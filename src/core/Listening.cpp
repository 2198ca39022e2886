#include "core/Listening.h"

#include <algorithm>

#include "core/Keys.h"

namespace vocarine {

Take::Take(bool endsByItself, TakeLimits limits)
    : endsByItself_(endsByItself),
      limits_(limits)
{
}

void Take::Add(const PitchTrack& frames)
{
    for (const PitchFrame& frame : frames) {
        // The length of a stretch runs to the start of the frame after it,
        // so it is known one frame late; the hop is the step between frames.
        const double hop = track_.empty() ? 0.0 : std::max(0.0, frame.time - track_.back().time);
        track_.push_back(frame);
        if (frame.midi <= 0.0) {
            stretchStart_.reset();
            continue;
        }
        if (!stretchStart_)
            stretchStart_ = frame.time;
        if (frame.time + hop - *stretchStart_ >= limits_.shortestNote - 1e-9) {
            heardNote_ = true;
            lastSung_ = frame.time;
        }
    }
}

TakeEnd Take::Due(double elapsed) const
{
    if (!endsByItself_)
        return TakeEnd::Running;
    if (elapsed >= limits_.longest)
        return TakeEnd::TimeUp;
    if (heardNote_ && !track_.empty() && track_.back().time - lastSung_ >= limits_.quietAfterNote)
        return TakeEnd::Quiet;
    return TakeEnd::Running;
}

double StaffSemitone(double midi, int32_t keyOffset)
{
    // Do of the key sounds an octave above the table's lowest do.
    const double lowestDo = static_cast<double>(TonicKey(keyOffset)) - 12.0;
    return midi - lowestDo;
}

std::optional<double> CellMiddleSemitone(const Cell& cell, const NoteTableArray& table)
{
    std::optional<int32_t> low;
    std::optional<int32_t> high;
    const int n = std::clamp<int>(cell.count, 0, MaxNotes);
    for (int j = 0; j < n; ++j) {
        const NoteRef& note = cell.notes[j];
        if (note.degree < 0 || note.degree > MaxDegree || note.accidental < 0 || note.accidental > MaxAccidental)
            continue;
        const int32_t s = table[NoteIndex(note.degree, note.accidental)].semitone;
        low = low ? std::min(*low, s) : s;
        high = high ? std::max(*high, s) : s;
    }
    if (!low)
        return std::nullopt;
    return (*low + *high) / 2.0;
}

}  // namespace vocarine
