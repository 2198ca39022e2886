#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "CoreTestSupport.h"
#include "core/AutoDrive.h"
#include "core/Random.h"

namespace vocarine {
namespace {

using testing::RecordingView;
using testing::StateWithBook;
using Log = std::vector<std::string>;

// The panel as the sequencer sees it; its labels write into the same log as the view.
class FakePanel : public AutoDrivePanel {
public:
    explicit FakePanel(Log& log) : log_(log) {}

    bool IsRunning() const override { return running; }
    bool IsSingingMode() const override { return singing; }
    int32_t FirstWait() const override { return firstWait; }
    int32_t SecondWait() const override { return secondWait; }
    int32_t Repetitions() const override { return repetitions; }
    void WriteFirstWait(int32_t seconds) override { log_.push_back("L2=" + std::to_string(seconds)); }
    void WriteSecondWait(int32_t seconds) override { log_.push_back("L4=" + std::to_string(seconds)); }

    // The START/STOP button: START makes the first step of the mode due, STOP only stops.
    void PressButton(TrainerState& state)
    {
        if (!running) {
            running = true;
            (singing ? state.DisplayCountdown : state.PlayCountdown) = -1;
        } else {
            running = false;
        }
    }

    bool running = false;
    bool singing = true;
    int32_t firstWait = 5;
    int32_t secondWait = 5;
    int32_t repetitions = 5;

private:
    Log& log_;
};

// One row of a tick table: the countdowns (Display / Play) before and after, and
// everything the tick did in order ("L2=4" is a label write).
struct Tick {
    int32_t displayBefore;
    int32_t playBefore;
    std::string log;
    int32_t displayAfter;
    int32_t playAfter;
    bool newCell = false;  // a presentation was counted
};

class AutoDriveTest : public ::testing::Test {
protected:
    void SetUp() override { SeedRandom(1234); }

    int32_t PresentationsCounted() const
    {
        return std::accumulate(state.CellRepeats.begin(), state.CellRepeats.end(), 0);
    }

    void RunTicks(const std::vector<Tick>& ticks)
    {
        for (std::size_t i = 0; i < ticks.size(); ++i) {
            const Tick& t = ticks[i];
            SCOPED_TRACE(::testing::Message() << "row " << i + 1 << ": " << t.log);
            ASSERT_EQ(state.DisplayCountdown, t.displayBefore);
            ASSERT_EQ(state.PlayCountdown, t.playBefore);
            const int32_t counted = PresentationsCounted();
            Tick1();
            EXPECT_EQ(Joined(), t.log);
            EXPECT_EQ(state.DisplayCountdown, t.displayAfter);
            EXPECT_EQ(state.PlayCountdown, t.playAfter);
            EXPECT_EQ(PresentationsCounted() - counted, t.newCell ? 1 : 0);
        }
    }

    void Tick1()
    {
        log.clear();
        AutoDriveTick(state, panel, view);
    }

    void Ticks(int n)
    {
        for (int i = 0; i < n; ++i) {
            Tick1();
        }
    }

    std::string Joined() const
    {
        std::string text;
        for (const std::string& word : log) {
            text += (text.empty() ? "" : " ") + word;
        }
        return text;
    }

    TrainerState state = StateWithBook(10);
    Log log;
    RecordingView view{state, log};
    FakePanel panel{log};
};

const std::vector<Tick> SingingCycle = {
    {-1, 0, "hide show counter L4=5 L2=5", 4, 0, true},
    {4, 0, "L2=4", 3, 0},
    {3, 0, "L2=3", 2, 0},
    {2, 0, "L2=2", 1, 0},
    {1, 0, "L2=1", 0, 0},
    {0, 0, "L2=5 play L4=5", 0, 4},
    {0, 4, "L4=4", 0, 3},
    {0, 3, "L4=3", 0, 2},
    {0, 2, "L4=2", 0, 1},
    {0, 1, "L4=1", -1, 0},
    {-1, 0, "hide show counter L4=5 L2=5", 4, 0, true},
};

const std::vector<Tick> DictationCycle = {
    {0, -1, "hide L4=5 repaint play", 0, 5, true},
    {0, 5, "L2=5", 0, 4},
    {0, 4, "L2=4", 0, 3},
    {0, 3, "L2=3", 0, 2},
    {0, 2, "L2=2", 0, 1},
    {0, 1, "L2=1", 0, 0},
    {0, 0, "L2=5 show counter L4=5", 4, 0},
    {4, 0, "L4=4", 3, 0},
    {3, 0, "L4=3", 2, 0},
    {2, 0, "L4=2", 1, 0},
    {1, 0, "L4=1 hide", 0, -1},
    {0, -1, "hide L4=5 repaint play", 0, 5, true},
};

TEST_F(AutoDriveTest, SingingModeShowsWaitsPlaysWaits)
{
    panel.PressButton(state);
    RunTicks(SingingCycle);
    ASSERT_EQ(view.Shown().size(), 2u);
    ASSERT_EQ(view.Played().size(), 1u);
    EXPECT_NE(view.Shown()[0], 0);                 // another cell than the one current at START
    EXPECT_EQ(view.Played()[0], view.Shown()[0]);  // the cell shown is the one played
    EXPECT_NE(view.Shown()[1], view.Shown()[0]);
}

TEST_F(AutoDriveTest, DictationModePlaysWaitsShowsWaitsHides)
{
    panel.singing = false;
    panel.PressButton(state);
    RunTicks(DictationCycle);
    ASSERT_EQ(view.Played().size(), 2u);
    ASSERT_EQ(view.Shown().size(), 1u);
    EXPECT_EQ(view.Shown()[0], view.Played()[0]);
    EXPECT_NE(view.Played()[1], view.Played()[0]);
    EXPECT_EQ(view.Counters().size(), 1u);  // the counter changes when the cell is shown, not played
}

TEST_F(AutoDriveTest, NothingHappensWhileStopped)
{
    state.DisplayCountdown = -1;
    const TrainerState before = state;
    Ticks(3);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(state.DisplayCountdown, before.DisplayCountdown);
    EXPECT_EQ(state.CurrentCell, before.CurrentCell);
    EXPECT_EQ(state.CellRepeats, before.CellRepeats);
}

TEST_F(AutoDriveTest, DictationWithASecondWaitOfOneShowsAndHidesInOneTick)
{
    panel.singing = false;
    panel.firstWait = 2;
    panel.secondWait = 1;
    panel.PressButton(state);
    RunTicks({
        {0, -1, "hide L4=1 repaint play", 0, 2, true},
        {0, 2, "L2=2", 0, 1},
        {0, 1, "L2=1", 0, 0},
        {0, 0, "L2=2 show counter L4=1 hide", 0, -1},
        {0, -1, "hide L4=1 repaint play", 0, 2, true},
    });
}

TEST_F(AutoDriveTest, StopAndStartInSingingModeShowsACellThatIsNeverPlayed)
{
    panel.PressButton(state);
    Ticks(7);  // into the wait after Play
    panel.PressButton(state);
    ASSERT_EQ(state.PlayCountdown, 3);
    Tick1();
    EXPECT_TRUE(log.empty());
    panel.PressButton(state);
    const std::size_t playedBefore = view.Played().size();
    RunTicks({
        {-1, 3, "hide show counter L4=5 L2=5", 4, 3, true},
        {4, 3, "L2=4", 3, 3},
        {3, 3, "L2=3", 2, 3},
        {2, 3, "L2=2", 1, 3},
        {1, 3, "L2=1", 0, 3},
        {0, 3, "L4=3", 0, 2},
        {0, 2, "L4=2", 0, 1},
        {0, 1, "L4=1", -1, 0},
        {-1, 0, "hide show counter L4=5 L2=5", 4, 0, true},
    });
    EXPECT_EQ(view.Played().size(), playedBefore);
}

TEST_F(AutoDriveTest, StopAndStartInDictationModePlaysACellThatIsNeverShown)
{
    panel.singing = false;
    panel.PressButton(state);
    Ticks(8);  // into the wait after Display
    panel.PressButton(state);
    ASSERT_EQ(state.DisplayCountdown, 3);
    Tick1();
    EXPECT_TRUE(log.empty());
    panel.PressButton(state);
    const std::size_t shownBefore = view.Shown().size();
    RunTicks({
        {3, -1, "hide L4=5 repaint play", 3, 5, true},
        {3, 5, "L2=5", 3, 4},
        {3, 4, "L2=4", 3, 3},
        {3, 3, "L2=3", 3, 2},
        {3, 2, "L2=2", 3, 1},
        {3, 1, "L2=1", 3, 0},
        {3, 0, "L4=3", 2, 0},
        {2, 0, "L4=2", 1, 0},
        {1, 0, "L4=1 hide", 0, -1},
        {0, -1, "hide L4=5 repaint play", 0, 5, true},
    });
    EXPECT_EQ(view.Shown().size(), shownBefore);
}

TEST_F(AutoDriveTest, SwitchingModeWhileRunningKeepsTheCountdowns)
{
    panel.PressButton(state);
    Ticks(2);  // Singing, in the wait after Display
    panel.singing = false;
    RunTicks({
        {3, 0, "L4=3", 2, 0},
        {2, 0, "L4=2", 1, 0},
        {1, 0, "L4=1 hide", 0, -1},
        {0, -1, "hide L4=5 repaint play", 0, 5, true},
        {0, 5, "L2=5", 0, 4},
    });
    panel.singing = true;  // in the wait after Play: the cell just played is never shown
    RunTicks({
        {0, 4, "L4=4", 0, 3},
        {0, 3, "L4=3", 0, 2},
        {0, 2, "L4=2", 0, 1},
        {0, 1, "L4=1", -1, 0},
        {-1, 0, "hide show counter L4=5 L2=5", 4, 0, true},
    });
    EXPECT_NE(view.Shown().back(), view.Played().back());
}

TEST_F(AutoDriveTest, ANewWaitTakesEffectAtTheNextWaitOfItsKind)
{
    panel.PressButton(state);
    Tick1();
    panel.firstWait = 2;
    panel.secondWait = 3;
    RunTicks({
        {4, 0, "L2=4", 3, 0},
        {3, 0, "L2=3", 2, 0},
        {2, 0, "L2=2", 1, 0},
        {1, 0, "L2=1", 0, 0},
        {0, 0, "L2=2 play L4=3", 0, 2},
        {0, 2, "L4=2", 0, 1},
        {0, 1, "L4=1", -1, 0},
        {-1, 0, "hide show counter L4=3 L2=2", 1, 0, true},
    });
}

// With both waits at one second a Singing cycle is two ticks.
TEST_F(AutoDriveTest, ACellIsDoneAtThePresentationThatReachesTheCount)
{
    panel.firstWait = 1;
    panel.secondWait = 1;
    {
        SCOPED_TRACE("once each: every cell of the book is done in its first cycle");
        panel.repetitions = 1;
        panel.PressButton(state);
        std::vector<int32_t> presented;
        for (int cycle = 0; cycle < 10; ++cycle) {
            Ticks(2);
            presented.push_back(state.CurrentCell);
            EXPECT_EQ(state.CellDone[state.CurrentCell], 1);
        }
        std::sort(presented.begin(), presented.end());
        EXPECT_EQ(presented, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
        Ticks(2);  // all done: the last cell comes again
        EXPECT_EQ(view.Shown().back(), view.Shown()[view.Shown().size() - 2]);
    }
    {
        SCOPED_TRACE("five times: a book of one cell is done at its fifth cycle");
        state = StateWithBook(1);
        state.DisplayCountdown = -1;
        panel.repetitions = 5;
        for (int cycle = 1; cycle <= 6; ++cycle) {
            Ticks(2);
            EXPECT_EQ(state.CellRepeats[0], cycle);
            EXPECT_EQ(state.CellDone[0], cycle >= 5 ? 1 : 0) << "cycle " << cycle;
        }
    }
}

TEST_F(AutoDriveTest, TheLastCellToDoIsPresentedUntilDoneAndThenOn)
{
    state = StateWithBook(3);
    state.CellDone[0] = 1;
    state.CellDone[1] = 1;
    panel.firstWait = 1;
    panel.secondWait = 1;
    panel.repetitions = 3;
    panel.PressButton(state);
    for (int cycle = 1; cycle <= 5; ++cycle) {
        SCOPED_TRACE(::testing::Message() << "cycle " << cycle);
        Ticks(2);
        EXPECT_EQ(view.Shown().back(), 2);
        EXPECT_EQ(view.Played().back(), 2);
        EXPECT_EQ(state.CellRepeats[2], cycle);
        EXPECT_EQ(state.CellDone[2], cycle >= 3 ? 1 : 0);
    }
}

TEST_F(AutoDriveTest, AnEmptyBookGoesOnPresentingTheCurrentPlace)
{
    state = StateWithBook(0);
    panel.firstWait = 1;
    panel.secondWait = 1;
    panel.PressButton(state);
    Ticks(4);
    EXPECT_EQ(view.Shown(), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(view.Played(), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(state.CellRepeats[0], 2);
    EXPECT_EQ(view.Counters().back(), "cell 0 of 0");
}

TEST_F(AutoDriveTest, PresentationsCountedSurviveLoadingABook)
{
    testing::ScratchFolder folder;
    state.CellRepeats[1] = 5;
    ASSERT_FALSE(LoadCellFile(state, folder.Write("three.txt", "3 1 0 1 1 1 1 1 2 1")).has_value());
    EXPECT_EQ(state.CellRepeats[1], 5);
    panel.PressButton(state);
    testing::ScriptedDraws draws({1});
    Tick1();
    EXPECT_EQ(state.CurrentCell, 1);
    EXPECT_EQ(state.CellRepeats[1], 6);
    EXPECT_EQ(state.CellDone[1], 1);  // done in its first cycle of the new book
}

}  // namespace
}  // namespace vocarine
