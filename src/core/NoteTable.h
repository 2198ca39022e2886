// The note table: every (degree, accidental) of three octaves mapped to a
// semitone number above the lowest do and the solfege syllable shown for it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vocarine {

constexpr int DegreeCount = 21;      // three octaves of do re mi fa sol la ti
constexpr int AccidentalCount = 3;   // 0 flat, 1 natural, 2 sharp
constexpr int NoteTableSize = DegreeCount * AccidentalCount;

struct NoteEntry {
    int32_t semitone = 0;
    std::string syllable;
};

using NoteTableArray = std::array<NoteEntry, NoteTableSize>;

// Fills all 63 entries: the first octave by hand, the two above copied from it.
void BuildNoteTable(NoteTableArray& table);

constexpr int NoteIndex(int32_t degree, int32_t accidental) { return degree * AccidentalCount + accidental; }

}  // namespace vocarine
