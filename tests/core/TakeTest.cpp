// When a take ends by itself, and where a sung pitch stands on the staff.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/Listening.h"
#include "core/NoteTable.h"

namespace {

using vocarine::PitchTrack;
using vocarine::Take;
using vocarine::TakeEnd;

// A track of 10 ms hops: `voiced[i]` seconds of singing (positive) or
// silence (negative), one after the other.
PitchTrack Track(const std::vector<double>& stretches)
{
    PitchTrack track;
    double t = 0.0;
    for (double s : stretches) {
        const int hops = static_cast<int>(std::abs(s) / 0.01 + 0.5);
        for (int i = 0; i < hops; ++i, t += 0.01)
            track.push_back({t, s > 0 ? 64.0 : 0.0});
    }
    return track;
}

struct EndCase {
    const char* what;
    std::vector<double> stretches;
    double elapsed;  // by the clock
    bool heard;
    TakeEnd end;
};

TEST(Take, EndsAfterTheQuietThatFollowsASungNoteOrAtItsTimeLimit)
{
    const EndCase cases[] = {
        {"nothing yet", {-0.5}, 0.5, false, TakeEnd::Running},
        {"silence is no note however long", {-5.0}, 5.0, false, TakeEnd::Running},
        {"a blip shorter than a note does not count", {-0.2, 0.05, -2.0}, 2.3, false, TakeEnd::Running},
        {"quiet after a note, not yet long enough", {0.3, -1.4}, 1.7, true, TakeEnd::Running},
        {"quiet after a note, long enough", {0.3, -1.6}, 1.9, true, TakeEnd::Quiet},
        {"a pause between notes does not end it", {0.3, -1.0, 0.3, -1.0}, 2.6, true, TakeEnd::Running},
        {"the quiet counts in the take's time, not the clock's", {0.3, -0.5}, 10.0, true, TakeEnd::Running},
        {"the time limit counts by the clock", {-0.1}, 20.0, false, TakeEnd::TimeUp},
        {"singing all along still stops at the limit", {19.9}, 20.0, true, TakeEnd::TimeUp},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.what);
        Take take(true);
        take.Add(Track(c.stretches));
        EXPECT_EQ(take.HeardANote(), c.heard);
        EXPECT_EQ(take.Due(c.elapsed), c.end);
    }
}

TEST(Take, AutoDrivesTakeEndsOnlyWhenTold)
{
    Take take(false);
    take.Add(Track({0.3, -3.0}));
    EXPECT_TRUE(take.HeardANote());
    EXPECT_EQ(take.Due(25.0), TakeEnd::Running);
}

TEST(Take, FramesAddedInPiecesCountAsOneTrack)
{
    Take whole(true);
    whole.Add(Track({0.3, -1.6}));
    Take pieces(true);
    const PitchTrack track = Track({0.3, -1.6});
    for (const auto& frame : track)
        pieces.Add({frame});
    EXPECT_EQ(pieces.Track().size(), whole.Track().size());
    EXPECT_EQ(pieces.Due(2.0), whole.Due(2.0));
    EXPECT_EQ(pieces.Due(2.0), TakeEnd::Quiet);
}

TEST(StaffSemitone, CountsFromTheLowestDoOfTheKey)
{
    // Do of the key sounds at 60 + KeyOffset; the table's lowest do an octave below.
    EXPECT_DOUBLE_EQ(vocarine::StaffSemitone(60.0, 0), 12.0);
    EXPECT_DOUBLE_EQ(vocarine::StaffSemitone(62.0, 2), 12.0);
    EXPECT_DOUBLE_EQ(vocarine::StaffSemitone(57.5, -2), 11.5);  // do of Bb sounds at 58
    EXPECT_DOUBLE_EQ(vocarine::StaffSemitone(48.0, 0), 0.0);
}

TEST(CellMiddleSemitone, LiesMidwayBetweenTheLowestAndHighestNote)
{
    vocarine::NoteTableArray table;
    vocarine::BuildNoteTable(table);
    vocarine::Cell cell;
    cell.count = 3;
    cell.notes[0] = {7, 1};   // do, 12
    cell.notes[1] = {11, 1};  // sol, 19
    cell.notes[2] = {9, 1};   // mi, 16
    EXPECT_DOUBLE_EQ(*vocarine::CellMiddleSemitone(cell, table), 15.5);
    cell.notes[1] = {99, 1};  // not a note of the table: left out
    EXPECT_DOUBLE_EQ(*vocarine::CellMiddleSemitone(cell, table), 14.0);
    cell.count = 0;
    EXPECT_FALSE(vocarine::CellMiddleSemitone(cell, table).has_value());
}

}  // namespace
