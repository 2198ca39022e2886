// The AutoDrive: one step of the practice cycle per timer tick.
#pragma once

#include "core/TrainerState.h"
#include "core/TrainerView.h"

namespace vocarine {

// The AutoDrive panel as the sequencer sees it. Every getter reads the
// panel's control at the moment of the call; nothing is copied.
class AutoDrivePanel {
public:
    virtual ~AutoDrivePanel() = default;
    virtual bool IsRunning() const = 0;        // the button reads "STOP"
    virtual bool IsSingingMode() const = 0;    // item 0 of the mode group
    virtual int32_t FirstWait() const = 0;     // seconds after the first step
    virtual int32_t SecondWait() const = 0;    // seconds after the second step
    virtual int32_t Repetitions() const = 0;   // presentations before a cell is done
    virtual void WriteFirstWait(int32_t seconds) = 0;   // the label beside the first wait
    virtual void WriteSecondWait(int32_t seconds) = 0;  // the label beside the second wait
};

// Choose a cell, count its presentation, retire it at the chosen count, widen the pool once.
void NewCellStep(TrainerState& state, const AutoDrivePanel& panel);

// One tick of the one-second timer.
void AutoDriveTick(TrainerState& state, AutoDrivePanel& panel, TrainerView& view);

}  // namespace vocarine
