// Which cell comes next: a random choice within a pool that widens as cells
// are finished.
#pragma once

#include "core/TrainerState.h"
#include "core/TrainerView.h"

namespace vocarine {

// True when every cell below CellCount is done (and when the book is empty).
bool EveryCellDone(const TrainerState& state);

// Draws until an eligible cell comes up: below CellCount, at most PoolLimit,
// not done, and not the cell that was current. No eligible cell: nothing changes.
void ChooseNextCell(TrainerState& state);

// Fewer than five cells left to do in 0..PoolLimit: the pool grows by one.
void GrowPool(TrainerState& state);

// "Keep": hide, choose another, rewrite the counter.
void KeepCell(TrainerState& state, TrainerView& view);

// "Move On": hide, mark done, widen the pool, then choose another unless
// every cell is done.
void MoveOn(TrainerState& state, TrainerView& view);

}  // namespace vocarine
