#include <gtest/gtest.h>

#include <algorithm>

#include "core/NoteTable.h"

namespace vocarine {
namespace {

class NoteTableTest : public ::testing::Test {
protected:
    void SetUp() override { BuildNoteTable(table); }
    NoteTableArray table;
};

TEST_F(NoteTableTest, EveryEntryFollowsTheScaleAndRepeatsItsSyllablePerOctave)
{
    constexpr int32_t stepSemitones[7] = {0, 2, 4, 5, 7, 9, 11};
    // By step of the scale, then flat, natural, sharp.
    const char* const syllables[7][3] = {
        {"de", "do", "di"}, {"ra", "re", "ri"}, {"me", "mi", "moo"}, {"fe", "fa", "fi"},
        {"se", "sol", "si"}, {"le", "la", "li"}, {"te", "ti", "ti"},
    };
    for (int d = 0; d < DegreeCount; ++d) {
        for (int a = 0; a < AccidentalCount; ++a) {
            SCOPED_TRACE(::testing::Message() << "degree " << d << ", accidental " << a);
            const NoteEntry& entry = table[d * 3 + a];
            EXPECT_EQ(entry.semitone, stepSemitones[d % 7] + 12 * (d / 7) + (a - 1));
            EXPECT_EQ(entry.syllable, syllables[d % 7][a]);
        }
    }
}

TEST_F(NoteTableTest, LowestAndHighestEntriesBoundTheTable)
{
    const auto [lowest, highest] = std::minmax_element(
        table.begin(), table.end(), [](const NoteEntry& x, const NoteEntry& y) { return x.semitone < y.semitone; });
    EXPECT_EQ(lowest - table.begin(), 0);
    EXPECT_EQ(lowest->semitone, -1);
    EXPECT_EQ(highest->semitone, 36);
    EXPECT_EQ(table[62].semitone, 36);
    EXPECT_EQ(table[62].syllable, "ti");
    EXPECT_EQ(std::count_if(table.begin(), table.end(), [](const NoteEntry& e) { return e.semitone < 0; }), 1);
}

TEST_F(NoteTableTest, NotesOfTheSamePitchKeepTheirOwnSyllables)
{
    struct Pair {
        int first;
        int second;
        int32_t semitone;
        const char* firstSyllable;
        const char* secondSyllable;
    };
    const Pair pairs[] = {
        {8, 10, 5, "moo", "fa"},   // mi sharp and fa
        {9, 7, 4, "fe", "mi"},     // fa flat and mi
        {20, 22, 12, "ti", "do"},  // ti sharp and the next do
        {21, 19, 11, "de", "ti"},  // do flat of the second octave and ti below it
        {42, 40, 23, "de", "ti"},  // the same a further octave up
    };
    for (const Pair& p : pairs) {
        SCOPED_TRACE(::testing::Message() << "entries " << p.first << " and " << p.second);
        EXPECT_EQ(table[p.first].semitone, p.semitone);
        EXPECT_EQ(table[p.second].semitone, p.semitone);
        EXPECT_EQ(table[p.first].syllable, p.firstSyllable);
        EXPECT_EQ(table[p.second].syllable, p.secondSyllable);
    }
}

TEST_F(NoteTableTest, UpperOctavesAreTheFirstShiftedByTwelveAndTwentyFour)
{
    for (int i = 0; i < 21; ++i) {
        SCOPED_TRACE(::testing::Message() << "entry " << i);
        EXPECT_EQ(table[i + 21].semitone, table[i].semitone + 12);
        EXPECT_EQ(table[i + 42].semitone, table[i].semitone + 24);
        EXPECT_EQ(table[i + 21].syllable, table[i].syllable);
        EXPECT_EQ(table[i + 42].syllable, table[i].syllable);
        EXPECT_FALSE(table[i].syllable.empty());
    }
}

}  // namespace
}  // namespace vocarine
