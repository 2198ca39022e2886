#include "core/TrainerState.h"

#include <variant>

namespace vocarine {

std::optional<CellFileError> LoadCellFile(TrainerState& state, const std::string& path)
{
    CellFileResult result = ReadCellFile(path);
    if (auto* error = std::get_if<CellFileError>(&result)) {
        return std::move(*error);
    }
    ApplyBook(state, std::get<ParsedBook>(result));
    return std::nullopt;
}

void ApplyBook(TrainerState& state, const ParsedBook& book)
{
    // The book is written in place: places past the new book, and note places past
    // a cell's count, keep what an earlier file put there.
    for (int i = 0; i < book.count; ++i) {
        const Cell& source = book.cells[i];
        Cell& cell = state.Cells[i];
        cell.count = source.count;
        for (int j = 0; j < source.count; ++j) {
            cell.notes[j] = source.notes[j];
        }
        state.CellDone[i] = 0;
    }
    state.CellCount = book.count;
    state.PoolLimit = 3;
    // A current cell past a smaller book would show and play a leftover of the old one.
    if (state.CurrentCell >= state.CellCount || state.CurrentCell < 0) {
        state.CurrentCell = 0;
    }
}

bool IsInBook(const TrainerState& state, int32_t cell)
{
    return cell >= 0 && cell < state.CellCount && cell < MaxCells;
}

std::string CellCounterText(const TrainerState& state)
{
    const int32_t shown = IsInBook(state, state.CurrentCell) ? state.CurrentCell + 1 : 0;
    return "cell " + std::to_string(shown) + " of " + std::to_string(state.CellCount);
}

}  // namespace vocarine
