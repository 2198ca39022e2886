#include "core/Rotation.h"

#include <algorithm>
#include <limits>

#include "core/Random.h"

namespace vocarine {

namespace {

bool IsEligible(const TrainerState& state, int32_t cell, int32_t previous)
{
    return cell >= 0 && cell < state.CellCount && cell < MaxCells && cell <= state.PoolLimit
           && state.CellDone[cell] == 0 && cell != previous;
}

// The pool has no upper bound; it only must not wrap around.
void WidenPool(TrainerState& state)
{
    if (state.PoolLimit < std::numeric_limits<int32_t>::max()) {
        ++state.PoolLimit;
    }
}

}  // namespace

bool EveryCellDone(const TrainerState& state)
{
    const int32_t count = std::min<int32_t>(state.CellCount, MaxCells);
    for (int32_t i = 0; i < count; ++i) {
        if (state.CellDone[i] == 0) {
            return false;
        }
    }
    return true;
}

void ChooseNextCell(TrainerState& state)
{
    const int32_t previous = state.CurrentCell;
    bool any = false;
    for (int32_t i = 0; i < MaxCells && !any; ++i) {
        any = IsEligible(state, i, previous);
    }
    if (!any) {
        return;
    }
    // Drawing over the whole book and throwing away what is not eligible keeps the
    // choice uniform over the cells that are.
    for (;;) {
        const int32_t drawn = PickRandom(state.CellCount);
        if (IsEligible(state, drawn, previous)) {
            state.CurrentCell = drawn;
            return;
        }
    }
}

void GrowPool(TrainerState& state)
{
    // Keeps a few cells to do within reach: the pool widens while fewer than five are left.
    const int32_t last = std::min<int32_t>(state.PoolLimit, MaxCells - 1);
    int32_t toDo = 0;
    for (int32_t i = 0; i <= last; ++i) {
        if (state.CellDone[i] == 0) {
            ++toDo;
        }
    }
    if (toDo < 5) {
        WidenPool(state);
    }
}

void KeepCell(TrainerState& state, TrainerView& view)
{
    view.HideCell();
    ChooseNextCell(state);
    view.ShowCellCounter();
}

void MoveOn(TrainerState& state, TrainerView& view)
{
    view.HideCell();
    if (state.CurrentCell >= 0 && state.CurrentCell < MaxCells) {
        state.CellDone[state.CurrentCell] = 1;
    }
    GrowPool(state);
    if (EveryCellDone(state)) {
        return;
    }
    // Every finished cell lets one more into the pool, on top of GrowPool's widening.
    WidenPool(state);
    ChooseNextCell(state);
    view.ShowCellCounter();
}

}  // namespace vocarine
