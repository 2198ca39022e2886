#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "CoreTestSupport.h"
#include "core/CellBook.h"
#include "core/TrainerState.h"

namespace vocarine {
namespace {

using testing::ScratchFolder;
using Notes = std::vector<std::pair<int32_t, int32_t>>;
using namespace std::string_literals;

// The book as lists of (degree, accidental), for comparing with what the reader gives.
std::vector<Notes> BookOf(const ParsedBook& book)
{
    std::vector<Notes> cells;
    for (int i = 0; i < book.count; ++i) {
        Notes notes;
        for (int j = 0; j < book.cells[i].count; ++j) {
            notes.emplace_back(book.cells[i].notes[j].degree, book.cells[i].notes[j].accidental);
        }
        cells.push_back(notes);
    }
    return cells;
}

const std::vector<Notes> ThreeCells = {
    {{0, 1}, {1, 1}, {2, 1}},
    {{4, 1}, {3, 2}, {4, 1}, {0, 1}},
    {{7, 1}, {6, 1}},
};

struct FormatCase {
    const char* name;
    std::string text;
    std::vector<Notes> book;
};

TEST(CellFileFormat, ReadsEveryLayoutOfTheSameNumbers)
{
    const FormatCase cases[] = {
        {"a cell a line", "3\n3 0 1 1 1 2 1\n4 4 1 3 2 4 1 0 1\n2 7 1 6 1\n", ThreeCells},
        {"one line, no final line end", "3 3 0 1 1 1 2 1 4 4 1 3 2 4 1 0 1 2 7 1 6 1", ThreeCells},
        {"one number a line", "3\n3\n0\n1\n1\n1\n2\n1\n4\n4\n1\n3\n2\n4\n1\n0\n1\n2\n7\n1\n6\n1\n", ThreeCells},
        {"tabs, blank lines, CR LF",
         "\r\n\t 3\r\n\r\n3\t0 1\t\t1 1   2 1\r\n4 4 1 3 2 4 1 0 1\r\n\r\n\t2 7 1 6 1\r\n\r\n", ThreeCells},
        {"other whitespace", "3\v3 0 1 1 1 2 1\f4 4 1 3 2 4 1 0 1 2 7 1 6 1", ThreeCells},
        {"plus sign, minus zero, leading zeros", "1 +2 010 -0 +0 01", {{{10, 0}, {0, 1}}}},
        {"numbers after the book are ignored", "1 1 0 1 5 5 5", {{{0, 1}}}},
        {"anything after the book is never read", "1 1 0 1\nx 1.5 \xEF\xBB\xBF", {{{0, 1}}}},
        {"a cell of no notes takes no pairs", "2 0 1 0 1", {{}, {{0, 1}}}},
        {"nothing but a zero", "0", {}},
        {"the highest values", "1 1 20 2", {{{20, 2}}}},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        const CellFileResult result = ParseCellText(c.text, "cells.txt");
        ASSERT_TRUE(std::holds_alternative<ParsedBook>(result)) << std::get<CellFileError>(result).Text();
        EXPECT_EQ(BookOf(std::get<ParsedBook>(result)), c.book);
    }
}

TEST(CellFileFormat, ReadsAFullBookOfFullCells)
{
    std::string text = "100\n";
    for (int i = 0; i < 100; ++i) {
        text += "10";
        for (int j = 0; j < 10; ++j) {
            text += " " + std::to_string((i + j) % 21) + " " + std::to_string(j % 3);
        }
        text += "\n";
    }
    const CellFileResult result = ParseCellText(text, "full.txt");
    ASSERT_TRUE(std::holds_alternative<ParsedBook>(result)) << std::get<CellFileError>(result).Text();
    const ParsedBook& book = std::get<ParsedBook>(result);
    ASSERT_EQ(book.count, 100);
    EXPECT_EQ(book.cells[99].count, 10);
    EXPECT_EQ(book.cells[99].notes[9].degree, (99 + 9) % 21);
    EXPECT_EQ(book.cells[99].notes[9].accidental, 0);
}

struct Refusal {
    std::string text;
    std::string message;  // everything after the file name
};

// Each refused text, with what the user is told.
const std::vector<Refusal> Refusals = {
    {"", ", line 1: the file ends where the number of cells was expected"},
    {"  \n\n", ", line 1: the file ends where the number of cells was expected"},
    {"2\n1 0 1\n", ", line 2: the file ends where the note count of cell 2 was expected"},
    {"3\n3 0 1 1 1 2 1\n4 4 1 3 2 4\n\n",
     ", line 3: the file ends where the accidental of note 3 of cell 2 was expected"},
    {"1\n2 0 1\n", ", line 2: the file ends where the degree of note 2 of cell 1 was expected"},
    {"x1", ", line 1: \"x1\" is not a whole number"},
    {"1\n2 12abc 1", ", line 2: \"12abc\" is not a whole number"},
    {"1\n1 1.5 1", ", line 2: \"1.5\" is not a whole number"},
    {"1 1 5-3 1", ", line 1: \"5-3\" is not a whole number"},
    {"1 1 0 1x", ", line 1: \"1x\" is not a whole number"},
    {"1 1 + 1", ", line 1: \"+\" is not a whole number"},
    {"1 1 -x 1", ", line 1: \"-x\" is not a whole number"},
    {"1 1 +-1 1", ", line 1: \"+-1\" is not a whole number"},
    {"Cells\n1 1 0 1", ", line 1: \"Cells\" is not a whole number"},
    {"1\r\n1\r\n0 \x01\x02z", ", line 3: \"??z\" is not a whole number"},
    {"1 1 0 abcdefghijklmnopqrstuvwxyz", ", line 1: \"abcdefghijklmnopqrstuvwx...\" is not a whole number"},
    {"\xEF\xBB\xBF" "1 1 0 1",
     ", line 1: the file starts with a UTF-8 byte-order mark; save it as plain text without one"},
    {"\xFF\xFE" "1\0 \0"s, ", line 1: the file is written in UTF-16; save it as plain text"},
    {"101", ", line 1: cell count 101 is outside 0 to 100"},
    {"-1", ", line 1: cell count -1 is outside 0 to 100"},
    {"2\n1 0 1\n11", ", line 3: note count 11 is outside 0 to 10"},
    {"1 -1", ", line 1: note count -1 is outside 0 to 10"},
    {"3\n3 0 1 1 1 2 1\n4 4 1 3 2 4 1 0 1\n2 7 1 23 1", ", line 4: degree 23 is outside 0 to 20"},
    {"1 1 -1 1", ", line 1: degree -1 is outside 0 to 20"},
    {"1 2 0 1 0\n3", ", line 2: accidental 3 is outside 0 to 2"},
    {"1 1 0 -1", ", line 1: accidental -1 is outside 0 to 2"},
    {"2147483648", ", line 1: cell count 2147483648 is outside 0 to 100"},
    {"1 -2147483649", ", line 1: note count -2147483649 is outside 0 to 10"},
    {"1 1 99999999999999999999 1", ", line 1: degree 99999999999999999999 is outside 0 to 20"},
    {"1 1 +021 1", ", line 1: degree +021 is outside 0 to 20"},
};

// A state with a book, a key, a pool and AutoDrive counters that a load must not disturb.
TrainerState BusyState()
{
    TrainerState state = testing::StateWithBook(6);
    state.CurrentCell = 4;
    state.KeyOffset = 7;
    state.PoolLimit = 9;
    state.CellDone[1] = 1;
    state.CellDone[50] = 1;
    state.CellRepeats[4] = 3;
    state.PlayCountdown = 2;
    state.DisplayCountdown = -1;
    return state;
}

void ExpectSameState(const TrainerState& actual, const TrainerState& expected)
{
    for (int i = 0; i < MaxCells; ++i) {
        SCOPED_TRACE(::testing::Message() << "place " << i);
        ASSERT_EQ(actual.Cells[i].count, expected.Cells[i].count);
        for (int j = 0; j < MaxNotes; ++j) {
            ASSERT_EQ(actual.Cells[i].notes[j].degree, expected.Cells[i].notes[j].degree);
            ASSERT_EQ(actual.Cells[i].notes[j].accidental, expected.Cells[i].notes[j].accidental);
        }
    }
    EXPECT_EQ(actual.CellCount, expected.CellCount);
    EXPECT_EQ(actual.CurrentCell, expected.CurrentCell);
    EXPECT_EQ(actual.KeyOffset, expected.KeyOffset);
    EXPECT_EQ(actual.PoolLimit, expected.PoolLimit);
    EXPECT_EQ(actual.CellDone, expected.CellDone);
    EXPECT_EQ(actual.CellRepeats, expected.CellRepeats);
    EXPECT_EQ(actual.PlayCountdown, expected.PlayCountdown);
    EXPECT_EQ(actual.DisplayCountdown, expected.DisplayCountdown);
}

TEST(CellFileRefusal, NamesFileLineAndProblemAndChangesNothing)
{
    ScratchFolder folder;
    for (const Refusal& r : Refusals) {
        SCOPED_TRACE(::testing::Message() << "text \"" << r.text << "\"");
        const CellFileResult parsed = ParseCellText(r.text, "cells.txt");
        ASSERT_TRUE(std::holds_alternative<CellFileError>(parsed));
        EXPECT_EQ(std::get<CellFileError>(parsed).Text(), "cells.txt" + r.message);

        const std::string path = folder.Write("cells.txt", r.text);
        TrainerState state = BusyState();
        const std::optional<CellFileError> error = LoadCellFile(state, path);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->file, path);
        EXPECT_EQ(error->Text(), path + r.message);
        ExpectSameState(state, BusyState());
    }
}

TEST(CellFileRefusal, FilesThatCannotBeReadAreRefusedWithTheReason)
{
    ScratchFolder folder;
    std::string large = "1 1 0 1";
    large.resize(1024 * 1024 + 1, ' ');
    const std::string tooLarge = folder.Write("large.txt", large);
    std::filesystem::create_directory(folder.PathOf("folder.txt"));

    const std::pair<std::string, std::string> cases[] = {
        {folder.PathOf("missing.txt"), ": cannot be opened (No such file or directory)"},
        {folder.PathOf("folder.txt"), ": cannot be opened (Is a directory)"},
        {"/dev/zero", ": cannot be opened (it is not a regular file)"},
        {tooLarge, ": is larger than 1 MiB, too large to be a cell file"},
    };
    for (const auto& [path, message] : cases) {
        SCOPED_TRACE(path);
        TrainerState state = BusyState();
        const std::optional<CellFileError> error = LoadCellFile(state, path);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->line, 0);
        EXPECT_EQ(error->Text(), path + message);
        ExpectSameState(state, BusyState());
    }
}

TEST(CellFileRefusal, AFileOfExactlyTheLimitStillLoads)
{
    ScratchFolder folder;
    std::string text = "1 1 0 1";
    text.resize(1024 * 1024, '\n');
    TrainerState state;
    EXPECT_FALSE(LoadCellFile(state, folder.Write("limit.txt", text)).has_value());
    EXPECT_EQ(state.CellCount, 1);
}

TEST(CellFileLoad, ASmallerBookKeepsThePlacesBeyondItAndRestartsThePool)
{
    ScratchFolder folder;
    std::string ten = "10\n";
    for (int i = 0; i < 10; ++i) {
        ten += "2 " + std::to_string(i) + " 1 " + std::to_string(i + 1) + " 0\n";
    }
    TrainerState state;
    ASSERT_FALSE(LoadCellFile(state, folder.Write("ten.txt", ten)).has_value());
    state.CellDone = {1, 1, 1, 0, 1, 0, 1, 0, 0, 1};
    state.PoolLimit = 8;
    state.CurrentCell = 7;
    state.KeyOffset = -2;
    state.CellRepeats[7] = 4;
    state.DisplayCountdown = 3;
    state.PlayCountdown = -1;
    const TrainerState before = state;

    ASSERT_FALSE(LoadCellFile(state, folder.Write("two.txt", "2\n1 14 2\n0\n")).has_value());

    EXPECT_EQ(state.CellCount, 2);
    EXPECT_EQ(state.Cells[0].count, 1);
    EXPECT_EQ(state.Cells[0].notes[0].degree, 14);
    EXPECT_EQ(state.Cells[0].notes[0].accidental, 2);
    // Note places past a cell's new count are left as they were.
    EXPECT_EQ(state.Cells[0].notes[1].degree, before.Cells[0].notes[1].degree);
    EXPECT_EQ(state.Cells[1].count, 0);
    for (int i = 2; i < 10; ++i) {
        SCOPED_TRACE(::testing::Message() << "place " << i);
        EXPECT_EQ(state.Cells[i].count, 2);
        EXPECT_EQ(state.Cells[i].notes[0].degree, i);
        EXPECT_EQ(state.Cells[i].notes[1].degree, i + 1);
        EXPECT_EQ(state.CellDone[i], before.CellDone[i]);
    }
    EXPECT_EQ(state.CellDone[0], 0);
    EXPECT_EQ(state.CellDone[1], 0);
    EXPECT_EQ(state.PoolLimit, 3);
    EXPECT_EQ(state.CurrentCell, 0);  // it was past the new book
    EXPECT_EQ(state.KeyOffset, -2);
    EXPECT_EQ(state.CellRepeats, before.CellRepeats);
    EXPECT_EQ(state.DisplayCountdown, 3);
    EXPECT_EQ(state.PlayCountdown, -1);
    EXPECT_EQ(CellCounterText(state), "cell 1 of 2");
}

TEST(CellFileLoad, ACurrentCellWithinTheNewBookStays)
{
    const std::pair<int32_t, std::string> cases[] = {
        {8, "cell 6 of 8"},  // loaded while the sixth cell is current
        {0, "cell 0 of 0"},  // an empty book
    };
    for (const auto& [count, counter] : cases) {
        SCOPED_TRACE(counter);
        TrainerState state = testing::StateWithBook(10);
        state.CurrentCell = count > 0 ? 5 : 0;
        ParsedBook book;
        book.count = count;
        ApplyBook(state, book);
        EXPECT_EQ(state.CellCount, count);
        EXPECT_EQ(CellCounterText(state), counter);
    }
}

// Another engineer writes the bundled files; until they land this fails.
TEST(BundledCellFiles, EveryFileLoadsAndTheStartUpBookIsFull)
{
    const std::filesystem::path folder = VOCARINE_CELLS_DIR;
    int files = 0;
    bool sawMajorTonic = false;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.path().extension() != ".txt") {
            continue;
        }
        ++files;
        SCOPED_TRACE(entry.path().string());
        const CellFileResult result = ReadCellFile(entry.path().string());
        ASSERT_TRUE(std::holds_alternative<ParsedBook>(result)) << std::get<CellFileError>(result).Text();
        const ParsedBook& book = std::get<ParsedBook>(result);
        EXPECT_GT(book.count, 0);
        if (entry.path().filename() == "majortonic.txt") {
            sawMajorTonic = true;
            EXPECT_EQ(book.count, 100);
        }
    }
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_TRUE(sawMajorTonic);
    EXPECT_GE(files, 4);
}

}  // namespace
}  // namespace vocarine
