// What the trainer's logic asks of the main window.
#pragma once

#include <cstdint>

namespace vocarine {

class TrainerView {
public:
    virtual ~TrainerView() = default;
    virtual void HideCell() = 0;
    virtual void ShowCell(int32_t cell) = 0;
    virtual void ShowCellCounter() = 0;
    // Plays the current cell; returns when its last note-on has gone out.
    virtual void PlayCurrentCell() = 0;
    // Paints the whole main window now, before the cell plays.
    virtual void RepaintNow() = 0;
};

}  // namespace vocarine
