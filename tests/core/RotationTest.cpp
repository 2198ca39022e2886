#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "CoreTestSupport.h"
#include "core/Random.h"
#include "core/Rotation.h"

namespace vocarine {
namespace {

using testing::RecordingView;
using testing::ScriptedDraws;
using testing::StateWithBook;
using Log = std::vector<std::string>;

std::vector<int> DoneCells(const TrainerState& state)
{
    std::vector<int> done;
    for (int i = 0; i < MaxCells; ++i) {
        if (state.CellDone[i] != 0) {
            done.push_back(i);
        }
    }
    return done;
}

enum class Press { Keep, MoveOn };

struct Scenario {
    const char* name;
    int32_t cellCount;
    int32_t current;
    int32_t poolLimit;
    std::vector<int> done;
    Press press;
    std::vector<int32_t> draws;  // what PickRandom answers, in order; all must be used
    int32_t currentAfter;
    int32_t poolLimitAfter;
    std::vector<int> doneAfter;
    Log log;
    std::vector<std::string> counters;
};

TEST(Rotation, ScenariosOfKeepAndMoveOn)
{
    const Scenario scenarios[] = {
        {"book of one, Keep", 1, 0, 3, {}, Press::Keep, {}, 0, 3, {}, {"hide", "counter"}, {"cell 1 of 1"}},
        {"book of one, Move On: done, the pool widens once, nothing else", 1, 0, 3, {}, Press::MoveOn, {}, 0, 4,
         {0}, {"hide"}, {}},
        {"book of one, all done, Keep", 1, 0, 4, {0}, Press::Keep, {}, 0, 4, {0}, {"hide", "counter"},
         {"cell 1 of 1"}},
        {"book of one, all done, Move On", 1, 0, 4, {0}, Press::MoveOn, {}, 0, 5, {0}, {"hide"}, {}},
        {"Keep on the only cell still to do", 3, 1, 3, {0, 2}, Press::Keep, {}, 1, 3, {0, 2}, {"hide", "counter"},
         {"cell 2 of 3"}},
        {"Move On on the only cell still to do", 3, 1, 3, {0, 2}, Press::MoveOn, {}, 1, 4, {0, 1, 2}, {"hide"}, {}},
        {"Keep: the current cell and cells past the pool are drawn again", 10, 0, 3, {}, Press::Keep,
         {0, 9, 4, 2}, 2, 3, {}, {"hide", "counter"}, {"cell 3 of 10"}},
        {"Keep: done cells are drawn again", 10, 1, 3, {0, 2}, Press::Keep, {2, 0, 1, 3}, 3, 3, {0, 2},
         {"hide", "counter"}, {"cell 4 of 10"}},
        {"book of three: the pool reaches past the book", 3, 0, 3, {}, Press::Keep, {0, 1}, 1, 3, {},
         {"hide", "counter"}, {"cell 2 of 3"}},
        {"empty book, Keep", 0, 0, 3, {}, Press::Keep, {}, 0, 3, {}, {"hide", "counter"}, {"cell 0 of 0"}},
        {"empty book, Move On marks the place and stops", 0, 0, 3, {}, Press::MoveOn, {}, 0, 4, {0}, {"hide"},
         {}},
        {"current cell beyond a smaller book is only excluded", 2, 7, 3, {}, Press::Keep, {1}, 1, 3, {},
         {"hide", "counter"}, {"cell 2 of 2"}},
        {"Move On widens twice while few are left", 10, 0, 3, {}, Press::MoveOn, {6, 0, 4}, 4, 5, {0},
         {"hide", "counter"}, {"cell 5 of 10"}},
        {"Move On widens once when five are left", 10, 0, 5, {}, Press::MoveOn, {6}, 6, 6, {0},
         {"hide", "counter"}, {"cell 7 of 10"}},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        TrainerState state = StateWithBook(s.cellCount);
        state.CurrentCell = s.current;
        state.PoolLimit = s.poolLimit;
        for (int i : s.done) {
            state.CellDone[i] = 1;
        }
        Log log;
        RecordingView view(state, log);
        ScriptedDraws draws(s.draws);
        if (s.press == Press::Keep) {
            KeepCell(state, view);
        } else {
            MoveOn(state, view);
        }
        EXPECT_EQ(state.CurrentCell, s.currentAfter);
        EXPECT_EQ(state.PoolLimit, s.poolLimitAfter);
        EXPECT_EQ(DoneCells(state), s.doneAfter);
        EXPECT_EQ(log, s.log);
        EXPECT_EQ(view.Counters(), s.counters);
        EXPECT_EQ(draws.Left(), 0u);
        for (int32_t n : draws.Ranges()) {
            EXPECT_EQ(n, s.cellCount);
        }
    }
}

TEST(Rotation, ThreePressesOfMoveOnWidenThePoolToFiveSevenEight)
{
    TrainerState state = StateWithBook(10);
    Log log;
    RecordingView view(state, log);
    struct PressStep {
        std::vector<int32_t> draws;
        int32_t chosen;
        int32_t poolLimit;
        std::vector<int> done;
    };
    const PressStep presses[] = {
        {{0, 7, 2}, 2, 5, {0}},           // choice among 1 to 5
        {{2, 8, 0, 5}, 5, 7, {0, 2}},     // among 1, 3, 4, 5, 6, 7
        {{5, 9, 2, 8}, 8, 8, {0, 2, 5}},  // among 1, 3, 4, 6, 7, 8
    };
    for (const PressStep& p : presses) {
        ScriptedDraws draws(p.draws);
        MoveOn(state, view);
        EXPECT_EQ(state.CurrentCell, p.chosen);
        EXPECT_EQ(state.PoolLimit, p.poolLimit);
        EXPECT_EQ(DoneCells(state), p.done);
        EXPECT_EQ(draws.Left(), 0u);
    }
    EXPECT_EQ(log, (Log{"hide", "counter", "hide", "counter", "hide", "counter"}));
    EXPECT_EQ(view.Counters(), (std::vector<std::string>{"cell 3 of 10", "cell 6 of 10", "cell 9 of 10"}));
}

TEST(Rotation, TheCurrentCellIsNeverChosenTwiceInARow)
{
    SeedRandom(20240611);
    for (int32_t count : {2, 3, 10, 100}) {
        TrainerState state = StateWithBook(count);
        state.PoolLimit = 99;
        std::set<int32_t> seen;
        for (int i = 0; i < 2000; ++i) {
            const int32_t before = state.CurrentCell;
            ChooseNextCell(state);
            ASSERT_NE(state.CurrentCell, before) << "book of " << count;
            ASSERT_LT(state.CurrentCell, count);
            seen.insert(state.CurrentCell);
        }
        EXPECT_EQ(static_cast<int32_t>(seen.size()), count);
    }
}

TEST(Rotation, TheChoiceIsUniformOverTheEligibleCells)
{
    SeedRandom(7);
    TrainerState state = StateWithBook(20);
    state.PoolLimit = 9;
    state.CellDone[2] = 1;
    state.CellDone[5] = 1;
    const std::vector<int32_t> eligible = {1, 3, 4, 6, 7, 8, 9};
    constexpr int perCell = 10000;
    const int choices = perCell * static_cast<int>(eligible.size());

    std::map<int32_t, int> tally;
    for (int i = 0; i < choices; ++i) {
        state.CurrentCell = 0;
        ChooseNextCell(state);
        ++tally[state.CurrentCell];
    }
    double chiSquare = 0;
    for (const auto& [cell, hits] : tally) {
        ASSERT_TRUE(std::find(eligible.begin(), eligible.end(), cell) != eligible.end()) << "chose " << cell;
        chiSquare += double(hits - perCell) * (hits - perCell) / perCell;
    }
    EXPECT_EQ(tally.size(), eligible.size());
    // Six degrees of freedom: 22.46 is exceeded by chance once in a thousand runs, and
    // the seed is fixed. Taking the next eligible cell after a miss, for instance,
    // gives cells after a gap twice the share and lands in the thousands.
    EXPECT_LT(chiSquare, 22.46);
}

TEST(Rotation, GrowPoolCountsCellsToDoUpToThePoolLimit)
{
    constexpr int32_t Largest = std::numeric_limits<int32_t>::max();
    struct Case {
        const char* name;
        int32_t cellCount;
        int32_t poolLimit;
        std::vector<int> done;
        int32_t poolLimitAfter;
    };
    const Case cases[] = {
        {"fresh book: four to do", 10, 3, {}, 4},
        {"five to do", 10, 4, {}, 4},
        {"four to do after one is done", 10, 4, {2}, 5},
        {"places past the book count too", 2, 5, {0, 1}, 6},
        {"a pool past the last place counts the hundred", 100, 150, {}, 150},
        {"a pool at the largest value stays there", 100, Largest, {0, 1, 2, 3, 4, 5, 6, 7}, Largest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrainerState state = StateWithBook(c.cellCount);
        state.PoolLimit = c.poolLimit;
        for (int i : c.done) {
            state.CellDone[i] = 1;
        }
        if (c.poolLimit == Largest) {
            state.CellDone.fill(1);
        }
        GrowPool(state);
        EXPECT_EQ(state.PoolLimit, c.poolLimitAfter);
    }
}

TEST(Rotation, GrowPoolFarBeyondTheBookReadsOnlyTheHundredFlags)
{
    TrainerState state = StateWithBook(100);
    state.CellDone.fill(1);
    state.CellRepeats.fill(0);  // zero bytes right after the flags would count as cells to do
    state.PoolLimit = 1'000'000;
    GrowPool(state);
    EXPECT_EQ(state.PoolLimit, 1'000'001);
}

}  // namespace
}  // namespace vocarine
