#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ListenTestSupport.h"
#include "audio/WavFile.h"

namespace vocarine {
namespace {

using testing::Quote;
using testing::Renderer;
using testing::RunCommand;
using testing::Scratch;
using testing::SungTake;

// Cell 1: do re mi fa sol; cell 2: sol mi do. In G, do is MIDI 67.
constexpr const char* CellFile = "2\n5 7 1 8 1 9 1 10 1 11 1\n3 11 1 9 1 7 1\n";
const std::vector<double> WrittenInG = {67, 69, 71, 72, 74};

class ListenCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Renderer().Ok()) << Renderer().Error();
        cells_ = scratch_.Write("cells.txt", CellFile);
    }
    std::string Take(const std::vector<double>& midis, const std::string& name = "take.wav")
    {
        const std::string path = scratch_.PathOf(name);
        EXPECT_TRUE(WriteWavFile(path, Renderer().Render(SungTake(midis))));
        return path;
    }
    testing::Run Listen(const std::string& args) { return RunCommand(Quote(VOCARINE_LISTEN) + " " + args); }

    Scratch scratch_;
    std::string cells_;
};

TEST_F(ListenCommand, GradesTakesNoteByNote)
{
    const struct {
        const char* name;
        std::vector<double> sung;
        std::string options;
        std::vector<std::string> verdicts;
        const char* summary;  // how the summary line starts
    } cases[] = {
        {"in tune", WrittenInG, "", {"in tune", "in tune", "in tune", "in tune", "in tune"}, "All 5 notes in tune"},
        {"mi 80 cents sharp", {67, 69, 71.8, 72, 74}, "", {"in tune", "in tune", "wrong", "in tune", "in tune"},
         "4 of 5 notes in tune - mi wrong note ("},
        {"re skipped", {67, 71, 72, 74}, "", {"in tune", "missed", "in tune", "in tune", "in tune"},
         "4 of 5 notes in tune - re missed"},
        {"an extra note", {67, 69, 64, 71, 72, 74}, "", {"in tune", "in tune", "in tune", "in tune", "in tune"},
         "All 5 notes in tune - 1 extra note"},
        {"fa 40 cents flat", {67, 69, 71, 71.6, 74}, "", {"in tune", "in tune", "in tune", "flat", "in tune"},
         "4 of 5 notes in tune - fa 4"},
        {"an octave below", {55, 57, 59, 60, 62}, "", {"in tune", "in tune", "in tune", "in tune", "in tune"},
         "All 5 notes in tune"},
        {"an octave below at the exact octave", {55, 57, 59, 60, 62}, "--exact-octave",
         {"wrong", "wrong", "wrong", "wrong", "wrong"}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string take = Take(c.sung);
        const testing::Run run = Listen(c.options + " " + Quote(take) + " " + Quote(cells_) + " 1 G");
        ASSERT_EQ(run.status, 0) << run.output;
        std::vector<std::string> lines;
        std::size_t from = 0;
        while (from < run.output.size()) {
            const std::size_t end = run.output.find('\n', from);
            lines.push_back(run.output.substr(from, end - from));
            from = end == std::string::npos ? run.output.size() : end + 1;
        }
        ASSERT_EQ(lines.size(), 6u) << run.output;
        const char* syllables[] = {"do", "re", "mi", "fa", "sol"};
        for (std::size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(lines[i].rfind(std::string(syllables[i]) + " ", 0), 0u) << lines[i];
            EXPECT_NE(lines[i].find(" " + c.verdicts[i]), std::string::npos) << lines[i];
            EXPECT_EQ(lines[i].find("cents") != std::string::npos, c.verdicts[i] != "missed") << lines[i];
        }
        if (c.summary) {
            EXPECT_EQ(lines[5].rfind(c.summary, 0), 0u) << lines[5];
        }
    }
}

TEST_F(ListenCommand, JsonHasOneEntryPerWrittenNote)
{
    // Cell 2 in C is sol mi do at 67 64 60: sung an octave up, mi 35 cents flat.
    Cell cell;
    cell.count = 3;
    cell.notes[0] = {11, 1};
    cell.notes[1] = {9, 1};
    cell.notes[2] = {7, 1};
    const std::string take = scratch_.PathOf("up.wav");
    ASSERT_TRUE(WriteWavFile(take, Renderer().Render(takes::CellTake(cell, 0, {0, -35, 0}, {}, takes::VoiceOohs, 1))));
    const testing::Run run = Listen("--json " + Quote(take) + " " + Quote(cells_) + " 2 C");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string expectedStart = "{\"notes\": [{\"syllable\": \"sol\", \"verdict\": \"in tune\", \"cents\": ";
    EXPECT_EQ(run.output.rfind(expectedStart, 0), 0u) << run.output;
    EXPECT_NE(run.output.find("{\"syllable\": \"mi\", \"verdict\": \"flat\", \"cents\": -3"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("{\"syllable\": \"do\", \"verdict\": \"in tune\""), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("], \"summary\": \"2 of 3 notes in tune - mi 3"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.back(), '\n');

    const std::string silent = scratch_.PathOf("silent.wav");
    WavAudio nothing;
    nothing.sampleRate = 44100;
    nothing.samples.assign(44100, 0.0f);
    ASSERT_TRUE(WriteWavFile(silent, nothing));
    const testing::Run quiet = Listen("--json " + Quote(silent) + " " + Quote(cells_) + " 2 C");
    ASSERT_EQ(quiet.status, 0) << quiet.output;
    EXPECT_EQ(quiet.output,
              "{\"notes\": [{\"syllable\": \"sol\", \"verdict\": \"missed\", \"cents\": null}, "
              "{\"syllable\": \"mi\", \"verdict\": \"missed\", \"cents\": null}, "
              "{\"syllable\": \"do\", \"verdict\": \"missed\", \"cents\": null}], \"summary\": \"Nothing heard\"}\n");
}

TEST_F(ListenCommand, BadInputIsNamedWithExitStatusTwo)
{
    const std::string take = Take({67});
    const std::string notWav = scratch_.Write("notes.wav", "just some text");
    const std::string badCells = scratch_.Write("bad.txt", "1\n2 7 1 23 1\n");
    const std::string q = Quote(take);
    const std::string c = Quote(cells_);
    const struct {
        const char* name;
        std::string args;
        std::string says;
    } cases[] = {
        {"not a WAV", Quote(notWav) + " " + c + " 1 G", notWav + ": not a WAV file (no RIFF header)"},
        {"missing WAV", Quote(scratch_.PathOf("gone.wav")) + " " + c + " 1 G", scratch_.PathOf("gone.wav") + ": cannot open"},
        {"bad cell file", q + " " + Quote(badCells) + " 1 G", badCells + ", line 2: "},
        {"missing cell file", q + " " + Quote(scratch_.PathOf("none.txt")) + " 1 G", scratch_.PathOf("none.txt")},
        {"cell 0", q + " " + c + " 0 G", "cell 0 is out of range: " + cells_ + " has 2 cells"},
        {"cell 3", q + " " + c + " 3 G", "cell 3 is out of range"},
        {"cell not a number", q + " " + c + " two G", "cell \"two\" is not a number"},
        {"unknown key", q + " " + c + " 1 H", "unknown key \"H\"; the keys are C, C#, D, Eb, E, F, F#, G, Ab, A, Bb, B"},
        {"too few", q + " " + c + " 1", "too few arguments"},
        {"too many", q + " " + c + " 1 G G", "too many arguments"},
        {"unknown option", "--loud " + q + " " + c + " 1 G", "unknown option --loud"},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        const testing::Run run = Listen(t.args);
        EXPECT_EQ(run.status, 2) << run.output;
        EXPECT_NE(run.output.find(t.says), std::string::npos) << run.output;
    }
    const testing::Run help = Listen("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("usage: vocarine-listen"), std::string::npos);
}

}  // namespace
}  // namespace vocarine
