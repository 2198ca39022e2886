#include <gtest/gtest.h>

#include <set>
#include <string>

#include "CoreTestSupport.h"
#include "core/Keys.h"
#include "core/Random.h"

namespace vocarine {
namespace {

TEST(Keys, TheKeyListMapsBothWaysOverAllTwelveKeys)
{
    struct Item {
        int item;
        const char* text;
        int32_t keyOffset;
    };
    const Item items[] = {
        {0, "B", -1}, {1, "Bb", -2}, {2, "A", 9}, {3, "Ab", 8}, {4, "G", 7},  {5, "F#", 6},
        {6, "F", 5},  {7, "E", 4},   {8, "Eb", 3}, {9, "D", 2}, {10, "C#", 1}, {11, "C", 0},
    };
    for (const Item& i : items) {
        SCOPED_TRACE(i.text);
        EXPECT_STREQ(KeyItemText(i.item), i.text);
        EXPECT_EQ(ItemToKey(i.item), i.keyOffset);
        EXPECT_EQ(KeyToItem(i.keyOffset), i.item);
    }
}

TEST(Keys, KeyNumbersOfTonicAndCellNotes)
{
    const std::pair<int32_t, int> tonics[] = {{-2, 58}, {0, 60}, {9, 69}};
    for (const auto& [offset, key] : tonics) {
        EXPECT_EQ(TonicKey(offset), key) << "key offset " << offset;
    }

    TrainerState state;
    BuildNoteTable(state.NoteTable);
    struct Note {
        NoteRef note;
        int32_t keyOffset;
        int key;
    };
    const Note notes[] = {
        {{0, 0}, -2, 45},  // the lowest: do flat of the bottom octave in Bb
        {{20, 2}, 9, 93},  // the highest: ti sharp of the top octave in A
        {{0, 1}, 0, 48},
        {{7, 1}, 0, 60},   // do of the middle octave is the tonic
        {{7, 1}, 5, 65},
    };
    for (const Note& n : notes) {
        SCOPED_TRACE(::testing::Message() << "degree " << n.note.degree << ", key offset " << n.keyOffset);
        state.KeyOffset = n.keyOffset;
        EXPECT_EQ(CellNoteKey(state, n.note), n.key);
        if (n.note.degree == 7 && n.note.accidental == 1) {
            EXPECT_EQ(CellNoteKey(state, n.note), TonicKey(n.keyOffset));
        }
    }
}

TEST(Keys, ANewKeyAlwaysDiffersFromTheOldOne)
{
    SeedRandom(99);
    for (int32_t old = -2; old <= 9; ++old) {
        std::set<int32_t> drawn;
        for (int i = 0; i < 500; ++i) {
            const int32_t key = DrawNewKey(old);
            ASSERT_NE(key, old);
            ASSERT_GE(key, -2);
            ASSERT_LE(key, 9);
            drawn.insert(key);
        }
        EXPECT_EQ(drawn.size(), 11u) << "from " << old;
    }
}

TEST(Keys, ADrawEqualToTheOldKeyIsDrawnAgain)
{
    testing::ScriptedDraws draws({2, 2, 5});
    EXPECT_EQ(DrawNewKey(0), 3);
    EXPECT_EQ(draws.Ranges(), (std::vector<int32_t>{12, 12, 12}));
}

}  // namespace
}  // namespace vocarine
