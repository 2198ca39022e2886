// Everything the trainer knows: note table, cell book, current cell, key,
// rotation and AutoDrive counters, as fixed-size fields owned by the main window.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/CellBook.h"
#include "core/NoteTable.h"

namespace vocarine {

struct TrainerState {
    NoteTableArray NoteTable{};
    CellArray Cells{};
    int32_t CellCount = 0;
    int32_t CurrentCell = 0;
    int32_t KeyOffset = 0;         // semitones from C to do of the key, -2..9
    int32_t PoolLimit = 3;         // highest cell index the rotation may choose
    std::array<uint8_t, MaxCells> CellDone{};
    std::array<int32_t, MaxCells> CellRepeats{};
    int32_t PlayCountdown = 0;     // -1 step due, 0 idle, n > 0 seconds left
    int32_t DisplayCountdown = 0;
};

// Loads a cell file into the book. A clean file replaces the places it covers,
// clears their done flags and sets PoolLimit back to 3; places beyond it keep
// the earlier cells and flags. A current cell past the new book moves to 0.
// A refused file changes nothing and the error is returned.
std::optional<CellFileError> LoadCellFile(TrainerState& state, const std::string& path);

// Writes a parsed book into the state as a load does.
void ApplyBook(TrainerState& state, const ParsedBook& book);

// Whether `cell` is one of the loaded cells. Places past the book may still
// hold cells of an earlier, larger one: those are neither shown nor played.
bool IsInBook(const TrainerState& state, int32_t cell);

// "cell %d of %d" with CurrentCell + 1 and CellCount; with no cells loaded
// it names no cell: "cell 0 of 0".
std::string CellCounterText(const TrainerState& state);

}  // namespace vocarine
