#include "core/NoteTable.h"

namespace vocarine {

void BuildNoteTable(NoteTableArray& table)
{
    // The first octave is written out; the two above are copies shifted by an octave,
    // so a syllable never depends on the octave.
    constexpr int32_t naturalSemitones[7] = {0, 2, 4, 5, 7, 9, 11};
    static const char* const naturals[7] = {"do", "re", "mi", "fa", "sol", "la", "ti"};
    static const char* const flats[7] = {"de", "ra", "me", "fe", "se", "le", "te"};
    // Ti sharp is sung as ti: it is the same pitch as the next do but keeps ti's name.
    static const char* const sharps[7] = {"di", "ri", "moo", "fi", "si", "li", "ti"};

    for (int d = 0; d < 7; ++d) {
        table[NoteIndex(d, 1)] = {naturalSemitones[d], naturals[d]};
    }
    for (int d = 0; d < 7; ++d) {
        const int32_t natural = table[NoteIndex(d, 1)].semitone;
        table[NoteIndex(d, 0)].semitone = natural - 1;
        table[NoteIndex(d, 2)].semitone = natural + 1;
    }
    for (int d = 0; d < 7; ++d) {
        table[NoteIndex(d, 0)].syllable = flats[d];
    }
    for (int d = 0; d < 7; ++d) {
        table[NoteIndex(d, 2)].syllable = sharps[d];
    }
    for (int d = 0; d < 7; ++d) {
        for (int a = 0; a < AccidentalCount; ++a) {
            const NoteEntry& first = table[NoteIndex(d, a)];
            table[NoteIndex(d + 7, a)] = {first.semitone + 12, first.syllable};
            table[NoteIndex(d + 14, a)] = {first.semitone + 24, first.syllable};
        }
    }
}

}  // namespace vocarine
