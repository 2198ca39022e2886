#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "core/Grading.h"
#include "core/Keys.h"

namespace vocarine {
namespace {

constexpr double Hop = 0.005;

// A piece of a made-up pitch track: `seconds` of `midi` (0: silence), with
// vibrato of `vibratoCents` at `vibratoHz`, then a glide of `glide` seconds
// to the next piece's pitch (no gap).
struct Piece {
    double seconds;
    double midi;
    double vibratoCents = 0.0;
    double vibratoHz = 5.5;
    double glide = 0.0;
};

PitchTrack MakeTrack(const std::vector<Piece>& pieces)
{
    PitchTrack track;
    double t = 0.0;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        const Piece& piece = pieces[p];
        const double start = t;
        for (; t < start + piece.seconds - 1e-9; t += Hop) {
            double midi = piece.midi;
            if (midi > 0.0) {
                midi += piece.vibratoCents / 100.0 * std::sin(2 * M_PI * piece.vibratoHz * (t - start));
            }
            track.push_back({t, midi});
        }
        if (piece.glide > 0.0 && p + 1 < pieces.size()) {
            const double from = piece.midi;
            const double to = pieces[p + 1].midi;
            const double glideStart = t;
            for (; t < glideStart + piece.glide - 1e-9; t += Hop) {
                track.push_back({t, from + (to - from) * (t - glideStart) / piece.glide});
            }
        }
    }
    return track;
}

// do re mi fa sol in the middle octave: MIDI 60 62 64 65 67 in C.
Cell FiveNotes()
{
    Cell cell;
    cell.count = 5;
    for (int i = 0; i < 5; ++i) {
        cell.notes[i] = {7 + i, 1};
    }
    return cell;
}

// Sung notes of `midis`, `seconds` each, 0.08 s apart.
std::vector<Piece> Sung(const std::vector<double>& midis, double vibratoCents = 0.0, double vibratoHz = 5.5,
                        double seconds = 0.35)
{
    std::vector<Piece> pieces;
    for (double midi : midis) {
        pieces.push_back({seconds, midi, vibratoCents, vibratoHz});
        pieces.push_back({0.08, 0.0});
    }
    return pieces;
}

using V = Verdict;

struct GradingCase {
    const char* name;
    std::vector<Piece> pieces;
    int32_t keyOffset;
    bool anyOctave;
    std::size_t sungNotes;
    std::vector<Verdict> verdicts;
    std::vector<std::optional<double>> cents;  // expected within 5 cents; empty: not checked
    const char* summary;                       // nullptr: not checked
};

std::vector<GradingCase> Cases()
{
    const std::vector<V> allInTune(5, V::InTune);
    std::vector<GradingCase> cases;
    cases.push_back({"all in tune", Sung({60, 62, 64, 65, 67}), 0, true, 5, allInTune, {0.0, 0.0, 0.0, 0.0, 0.0},
                     "All 5 notes in tune"});
    cases.push_back({"re flat", Sung({60, 61.62, 64, 65, 67}), 0, true, 5,
                     {V::InTune, V::Flat, V::InTune, V::InTune, V::InTune}, {0.0, -38.0, 0.0, 0.0, 0.0},
                     "4 of 5 notes in tune - re 38 cents flat"});
    cases.push_back({"in another key, small errors stay in tune", Sung({65.2, 66.85, 69, 70.1, 72}), 5, true, 5,
                     allInTune, {20.0, -15.0, 0.0, 10.0, 0.0}, nullptr});
    cases.push_back({"limits: 25 in tune, 60 sharp, 61 wrong", Sung({60.25, 62.6, 64.61, 65, 67}), 0, true, 5,
                     {V::InTune, V::Sharp, V::Wrong, V::InTune, V::InTune}, {25.0, 60.0, 61.0, 0.0, 0.0},
                     "3 of 5 notes in tune - re 60 cents sharp, mi wrong note (61 cents sharp)"});
    cases.push_back({"skipped note keeps the later verdicts", Sung({60, 62, 65.4, 67}), 0, true, 4,
                     {V::InTune, V::InTune, V::Missed, V::Sharp, V::InTune}, {0.0, 0.0, std::nullopt, 40.0, 0.0},
                     "3 of 5 notes in tune - mi missed, fa 40 cents sharp"});
    cases.push_back({"first note skipped", Sung({62, 64, 65, 67}), 0, true, 4,
                     {V::Missed, V::InTune, V::InTune, V::InTune, V::InTune}, {}, "4 of 5 notes in tune - do missed"});
    cases.push_back({"extra note keeps the later verdicts", Sung({60, 62, 71, 64, 65.45, 67}), 0, true, 6,
                     {V::InTune, V::InTune, V::InTune, V::Sharp, V::InTune}, {0.0, 0.0, 0.0, 45.0, 0.0},
                     "4 of 5 notes in tune - fa 45 cents sharp, 1 extra note"});
    cases.push_back({"octave below, any octave", Sung({48, 50, 52.3, 53, 55}), 0, true, 5,
                     {V::InTune, V::InTune, V::Sharp, V::InTune, V::InTune}, {0.0, 0.0, 30.0, 0.0, 0.0}, nullptr});
    cases.push_back({"octave below, exact octave", Sung({48, 50, 52, 53, 55}), 0, false, 5,
                     std::vector<V>(5, V::Wrong), {-1200.0, -1200.0, -1200.0, -1200.0, -1200.0},
                     "0 of 5 notes in tune - do wrong note (1200 cents flat), re wrong note (1200 cents flat), "
                     "mi wrong note (1200 cents flat) and 2 more"});
    cases.push_back({"octave below with a skipped note, any octave", Sung({48, 50, 53, 55}), 0, true, 4,
                     {V::InTune, V::InTune, V::Missed, V::InTune, V::InTune}, {}, nullptr});
    cases.push_back({"two octaves above, any octave", Sung({84, 86, 88, 89, 91}), 0, true, 5, allInTune, {}, nullptr});
    cases.push_back({"wide slow vibrato", Sung({60, 62, 64, 65, 67}, 60.0, 4.5, 0.6), 0, true, 5, allInTune,
                     {0.0, 0.0, 0.0, 0.0, 0.0}, nullptr});
    cases.push_back({"wide fast vibrato, one note flat", Sung({60, 62, 63.6, 65, 67}, 60.0, 6.5, 0.6), 0, true, 5,
                     {V::InTune, V::InTune, V::Flat, V::InTune, V::InTune}, {0.0, 0.0, -40.0, 0.0, 0.0}, nullptr});
    cases.push_back({"short notes with vibrato keep their verdicts", Sung({60, 62, 63.6, 65.4, 67}, 60.0, 4.5), 0,
                     true, 5, {V::InTune, V::InTune, V::Flat, V::Sharp, V::InTune}, {}, nullptr});
    cases.push_back({"legato glides between notes",
                     {{0.35, 60, 0, 5.5, 0.06}, {0.35, 62, 0, 5.5, 0.06}, {0.35, 64, 0, 5.5, 0.1},
                      {0.35, 65, 0, 5.5, 0.06}, {0.35, 67}},
                     0, true, 5, allInTune, {0.0, 0.0, 0.0, 0.0, 0.0}, nullptr});
    cases.push_back({"scoop from below into each note",
                     {{0.04, 58.5, 0, 5.5, 0.03}, {0.35, 60}, {0.08, 0.0}, {0.04, 60.5, 0, 5.5, 0.03},
                      {0.35, 62}, {0.08, 0.0}, {0.35, 64}, {0.08, 0.0}, {0.35, 65}, {0.08, 0.0}, {0.35, 67}},
                     0, true, 5, allInTune, {0.0, 0.0, 0.0, 0.0, 0.0}, nullptr});
    cases.push_back({"blips shorter than 80 ms are not notes",
                     {{0.35, 60}, {0.08, 0}, {0.05, 70}, {0.08, 0}, {0.35, 62}, {0.08, 0}, {0.35, 64},
                      {0.08, 0}, {0.35, 65}, {0.08, 0}, {0.35, 67}},
                     0, true, 5, allInTune, {}, "All 5 notes in tune"});
    cases.push_back({"a tracker octave slip inside a note does not split it",
                     {{0.15, 60}, {0.03, 72}, {0.17, 60}, {0.08, 0}, {0.35, 62}, {0.08, 0}, {0.35, 64},
                      {0.08, 0}, {0.35, 65}, {0.08, 0}, {0.35, 67}},
                     0, true, 5, allInTune, {}, nullptr});
    cases.push_back({"a short dropout inside a note is bridged",
                     {{0.15, 60}, {0.02, 0}, {0.17, 60}, {0.08, 0}, {0.35, 62}, {0.08, 0}, {0.35, 64},
                      {0.08, 0}, {0.35, 65}, {0.08, 0}, {0.35, 67}},
                     0, true, 5, allInTune, {}, nullptr});
    cases.push_back({"the tracker slipping an octave up in an attack does not make a note",
                     {{0.15, 72}, {0.35, 60}, {0.08, 0}, {0.2, 81.02}, {0.35, 62}, {0.08, 0}, {0.35, 64},
                      {0.08, 0}, {0.35, 65}, {0.08, 0}, {0.35, 67}},
                     0, true, 5, allInTune, {0.0, 0.0, 0.0, 0.0, 0.0}, "All 5 notes in tune"});
    cases.push_back({"a wavering attack cut off by a dropout joins its note",
                     {{0.12, 60}, {0.1, 0}, {0.35, 60}, {0.08, 0}, {0.35, 62}, {0.08, 0}, {0.15, 64.1},
                      {0.14, 0}, {0.35, 64}, {0.08, 0}, {0.35, 65}, {0.08, 0}, {0.35, 67}},
                     0, true, 5, allInTune, {}, "All 5 notes in tune"});
    cases.push_back({"a repeated note sung again is two notes",
                     {{0.35, 60}, {0.1, 0}, {0.35, 60}, {0.08, 0}, {0.35, 62}, {0.08, 0}, {0.35, 64}, {0.08, 0},
                      {0.35, 65}, {0.08, 0}, {0.35, 67}},
                     0, true, 6, allInTune, {}, "All 5 notes in tune - 1 extra note"});
    cases.push_back({"nothing heard", {{2.0, 0.0}}, 0, true, 0, std::vector<V>(5, V::Missed), {}, "Nothing heard"});
    cases.push_back({"only the first two notes", Sung({60, 62}), 0, true, 2,
                     {V::InTune, V::InTune, V::Missed, V::Missed, V::Missed}, {},
                     "2 of 5 notes in tune - mi missed, fa missed, sol missed"});
    return cases;
}

TEST(Grading, TableOfPitchTracks)
{
    NoteTableArray table;
    BuildNoteTable(table);
    const Cell cell = FiveNotes();
    for (const GradingCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const PitchTrack track = MakeTrack(c.pieces);
        EXPECT_EQ(FindSungNotes(track).size(), c.sungNotes);
        const CellGrade grade = GradeCell(track, cell, table, c.keyOffset, c.anyOctave);
        ASSERT_EQ(grade.notes.size(), 5u);
        const char* syllables[] = {"do", "re", "mi", "fa", "sol"};
        for (std::size_t i = 0; i < 5; ++i) {
            SCOPED_TRACE(syllables[i]);
            EXPECT_EQ(grade.notes[i].syllable, syllables[i]);
            EXPECT_STREQ(VerdictName(grade.notes[i].verdict), VerdictName(c.verdicts[i]));
            EXPECT_EQ(grade.notes[i].cents.has_value(), c.verdicts[i] != Verdict::Missed);
            if (i < c.cents.size() && c.cents[i] && grade.notes[i].cents) {
                EXPECT_NEAR(*grade.notes[i].cents, *c.cents[i], 5.0);
            }
        }
        if (c.summary) {
            EXPECT_EQ(grade.summary, c.summary);
        }
    }
}

TEST(Grading, SungNotesHaveTheirTimesAndPitches)
{
    const PitchTrack track = MakeTrack({{0.2, 0.0}, {0.4, 60.3}, {0.1, 0.0}, {0.3, 55.0}});
    const std::vector<SungNote> notes = FindSungNotes(track);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NEAR(notes[0].start, 0.2, Hop + 1e-9);
    EXPECT_NEAR(notes[0].end, 0.6, Hop + 1e-9);
    EXPECT_NEAR(notes[0].midi, 60.3, 1e-9);
    EXPECT_NEAR(notes[1].start, 0.7, Hop + 1e-9);
    EXPECT_NEAR(notes[1].end, 1.0, Hop + 1e-9);
    EXPECT_NEAR(notes[1].midi, 55.0, 1e-9);
    EXPECT_TRUE(FindSungNotes({}).empty());
}

TEST(Grading, WrittenPitchIsTheKeyPlaybackSends)
{
    TrainerState state;
    BuildNoteTable(state.NoteTable);
    for (int32_t key = -2; key <= 9; ++key) {
        state.KeyOffset = key;
        for (int32_t degree = 0; degree < DegreeCount; ++degree) {
            for (int32_t accidental = 0; accidental < AccidentalCount; ++accidental) {
                const NoteRef note{degree, accidental};
                EXPECT_EQ(WrittenMidi(state.NoteTable, note, key), CellNoteKey(state, note))
                    << "key " << key << " degree " << degree << " accidental " << accidental;
            }
        }
    }
}

TEST(Grading, FoldingMovesByWholeOctavesToTheNearest)
{
    const struct {
        double midi, target, folded;
    } cases[] = {{48.0, 60.0, 60.0}, {47.6, 60.0, 59.6}, {84.2, 60.0, 60.2}, {53.9, 60.0, 65.9},
                 {54.1, 60.0, 54.1}, {60.0, 60.0, 60.0}, {30.0, 67.0, 66.0}};
    for (const auto& c : cases) {
        EXPECT_NEAR(FoldToOctaveOf(c.midi, c.target), c.folded, 1e-9) << c.midi << " toward " << c.target;
    }
}

TEST(Grading, OneNoteCellsAndFlatWording)
{
    NoteTableArray table;
    BuildNoteTable(table);
    Cell cell;
    cell.count = 1;
    cell.notes[0] = {9, 0};  // me: MIDI 63 in C
    const CellGrade flat = GradeSungNotes({{0.0, 0.5, 62.5}}, cell, table, 0, true);
    EXPECT_EQ(flat.summary, "0 of 1 note in tune - me 50 cents flat");
    const CellGrade inTune = GradeSungNotes({{0.0, 0.5, 63.1}}, cell, table, 0, true);
    EXPECT_EQ(inTune.summary, "1 of 1 note in tune");
}

}  // namespace
}  // namespace vocarine
