// The cell book and the reader of cell files.
//
// A cell file is plain text: the number of cells, then for each cell its
// number of notes followed by that many (degree, accidental) pairs. Numbers
// are separated by any whitespace; each is an optional sign and decimal digits.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace vocarine {

constexpr int MaxCells = 100;
constexpr int MaxNotes = 10;
constexpr int MaxDegree = 20;
constexpr int MaxAccidental = 2;

struct NoteRef {
    int32_t degree = 0;
    int32_t accidental = 0;
};

struct Cell {
    int32_t count = 0;
    std::array<NoteRef, MaxNotes> notes{};
};

using CellArray = std::array<Cell, MaxCells>;

// A file read cleanly and within every limit; only the first `count` cells mean anything.
struct ParsedBook {
    CellArray cells{};
    int32_t count = 0;
};

// Why a file was refused: which file, which line (1-based; 0 when the file
// could not be opened at all) and what is wrong, in words for the user.
struct CellFileError {
    std::string file;     // the name as the user gave it
    int line = 0;
    std::string message;  // e.g. "degree 23 is outside 0 to 20"

    // "cells.txt, line 4: degree 23 is outside 0 to 20" (no line part when line is 0)
    std::string Text() const;
};

using CellFileResult = std::variant<ParsedBook, CellFileError>;

// Parses the text of a cell file; `fileName` is only used in error messages.
CellFileResult ParseCellText(std::string_view text, const std::string& fileName);

// Reads and parses a file from disk.
CellFileResult ReadCellFile(const std::string& path);

}  // namespace vocarine
