#include "core/AutoDrive.h"

#include <limits>

#include "core/Rotation.h"

namespace vocarine {

namespace {

void SingingTick(TrainerState& state, AutoDrivePanel& panel, TrainerView& view)
{
    if (state.DisplayCountdown == -1) {
        view.HideCell();
        NewCellStep(state, panel);
        view.ShowCell(state.CurrentCell);
        view.ShowCellCounter();
        state.DisplayCountdown = panel.FirstWait();
        panel.WriteSecondWait(panel.SecondWait());
    }
    if (state.DisplayCountdown == 0 && state.PlayCountdown == 0) {
        state.PlayCountdown = -1;
        panel.WriteFirstWait(panel.FirstWait());
    }
    if (state.DisplayCountdown > 0) {
        panel.WriteFirstWait(state.DisplayCountdown);
        --state.DisplayCountdown;
        return;
    }
    if (state.PlayCountdown == -1) {
        state.PlayCountdown = panel.SecondWait();
        view.PlayCurrentCell();
    }
    if (state.PlayCountdown > 0) {
        panel.WriteSecondWait(state.PlayCountdown);
        --state.PlayCountdown;
    }
    if (state.PlayCountdown == 0) {
        state.DisplayCountdown = -1;
    }
}

void DictationTick(TrainerState& state, AutoDrivePanel& panel, TrainerView& view)
{
    if (state.PlayCountdown == -1) {
        view.HideCell();
        panel.WriteSecondWait(panel.SecondWait());
        // The staff must be empty on the screen before the cell plays.
        view.RepaintNow();
        NewCellStep(state, panel);
        state.PlayCountdown = panel.FirstWait();
        view.PlayCurrentCell();
        return;
    }
    if (state.PlayCountdown == 0 && state.DisplayCountdown == 0) {
        state.DisplayCountdown = -1;
        panel.WriteFirstWait(panel.FirstWait());
    }
    if (state.PlayCountdown > 0) {
        panel.WriteFirstWait(state.PlayCountdown);
        --state.PlayCountdown;
        return;
    }
    if (state.DisplayCountdown == -1) {
        state.DisplayCountdown = panel.SecondWait();
        view.ShowCell(state.CurrentCell);
        view.ShowCellCounter();
    }
    if (state.DisplayCountdown > 0) {
        panel.WriteSecondWait(state.DisplayCountdown);
        --state.DisplayCountdown;
    }
    if (state.DisplayCountdown == 0) {
        state.PlayCountdown = -1;
        view.HideCell();
    }
}

}  // namespace

void NewCellStep(TrainerState& state, const AutoDrivePanel& panel)
{
    ChooseNextCell(state);
    if (state.CurrentCell >= 0 && state.CurrentCell < MaxCells) {
        int32_t& repeats = state.CellRepeats[state.CurrentCell];
        if (repeats < std::numeric_limits<int32_t>::max()) {
            ++repeats;
        }
        // The cell is still presented in this cycle; it only leaves the rotation.
        if (repeats >= panel.Repetitions()) {
            state.CellDone[state.CurrentCell] = 1;
        }
    }
    GrowPool(state);
}

void AutoDriveTick(TrainerState& state, AutoDrivePanel& panel, TrainerView& view)
{
    if (!panel.IsRunning()) {
        return;
    }
    if (panel.IsSingingMode()) {
        SingingTick(state, panel, view);
    } else {
        DictationTick(state, panel, view);
    }
}

}  // namespace vocarine
