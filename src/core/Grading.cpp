#include "core/Grading.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vocarine {

namespace {

// Do of the table's lowest octave sounds as MIDI key 48 in C (as in Keys.cpp).
constexpr int32_t LowestDoKey = 48;

// A stretch must be voiced this long to count as a note.
constexpr double MinNoteSeconds = 0.080;
// Unvoiced gaps up to this long inside a stretch are bridged (a dropout of the tracker).
constexpr double BridgedGapSeconds = 0.030;
// The pitch must move this far from the note so far, and stay there, to start a new note.
constexpr double SplitSemitones = 0.70;
// ... for this long: shorter excursions are scoops, vibrato peaks or tracker slips.
constexpr double StaySeconds = 0.060;
// Of every note, the first and last fifth (at least 20 ms) are its attack and release.
constexpr double EdgeShare = 0.20;
constexpr double MinEdgeSeconds = 0.020;
// About one period of vibrato, over which the steady middle is averaged.
constexpr double VibratoWindowSeconds = 0.19;
// Frames this far from the middle of a note are slips of the tracker.
constexpr double SlipSemitones = 1.0;
// A note this short, this close to one of the same pitch, is a fragment of it.
constexpr double FragmentSeconds = 0.2;
constexpr double FragmentGapSeconds = 0.15;
// Pieces of a stretch shorter than this, an octave (or two, or an octave and a
// fifth) from their neighbour, are the tracker slipping to an overtone.
constexpr double OctaveSlipSeconds = 0.25;

// Verdict limits in cents.
constexpr double InTuneCents = 25.0;
constexpr double OffCents = 60.0;

// Alignment costs, in semitones of distance: a sung note is matched with a
// written note at a cost of its distance (capped, so a far wrong note still
// matches rather than counting as one extra plus one missed), or left over as
// an extra note, or a written note is left missed.
constexpr double MatchCap = 4.0;
constexpr double MissCost = 2.5;
constexpr double ExtraCost = 2.5;

double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0.0;
    }
    const std::size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
    const double upper = values[mid];
    if (values.size() % 2 == 1) {
        return upper;
    }
    const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid));
    return (lower + upper) / 2.0;
}

// Frame duration of a track: the median step between frame times.
double FrameSeconds(const PitchTrack& track)
{
    std::vector<double> steps;
    for (std::size_t i = 1; i < track.size(); ++i) {
        const double step = track[i].time - track[i - 1].time;
        if (step > 0.0) {
            steps.push_back(step);
        }
    }
    return steps.empty() ? 0.01 : Median(std::move(steps));
}

struct Segment {
    std::size_t first = 0;  // frame indices, inclusive
    std::size_t last = 0;
};

// The figure of a stretch: the median of its steady middle, the voiced frames
// without the attack and the release. Vibrato swings the pitch evenly around
// the note, but a median over a part of a period leans to one side, so the
// middle is first averaged over about one vibrato period (4.5 to 6.5 Hz); frames
// far from the middle's plain median (a slip of the tracker) are left out of it.
double SteadyMedian(const PitchTrack& track, const Segment& s, double frame)
{
    const double start = track[s.first].time;
    const double end = track[s.last].time + frame;
    const double edge = std::max(MinEdgeSeconds, EdgeShare * (end - start));
    std::vector<double> middle;
    std::vector<double> times;
    std::vector<double> all;
    for (std::size_t i = s.first; i <= s.last; ++i) {
        if (track[i].midi <= 0.0) {
            continue;
        }
        all.push_back(track[i].midi);
        if (track[i].time >= start + edge && track[i].time + frame <= end - edge) {
            middle.push_back(track[i].midi);
            times.push_back(track[i].time);
        }
    }
    if (middle.size() < 3) {
        return Median(std::move(all));
    }
    const double plain = Median(middle);
    std::vector<double> kept;
    std::vector<double> keptTimes;
    for (std::size_t i = 0; i < middle.size(); ++i) {
        if (std::fabs(middle[i] - plain) <= SlipSemitones) {
            kept.push_back(middle[i]);
            keptTimes.push_back(times[i]);
        }
    }
    if (kept.size() * 2 < middle.size()) {
        // No pitch holds most of the middle: nothing steady to average.
        return plain;
    }
    // Only windows wholly inside the middle average a whole period.
    const double from = start + edge;
    const double to = end - edge;
    std::vector<double> smoothed;
    std::size_t lo = 0;
    std::size_t hi = 0;
    double sum = 0.0;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        while (hi < kept.size() && keptTimes[hi] <= keptTimes[i] + VibratoWindowSeconds / 2) {
            sum += kept[hi++];
        }
        while (keptTimes[lo] < keptTimes[i] - VibratoWindowSeconds / 2) {
            sum -= kept[lo++];
        }
        if (keptTimes[i] - VibratoWindowSeconds / 2 >= from - 1e-9 &&
            keptTimes[i] + VibratoWindowSeconds / 2 + frame <= to + 1e-9) {
            smoothed.push_back(sum / static_cast<double>(hi - lo));
        }
    }
    if (smoothed.empty()) {
        // A middle shorter than a period: its mean is the best guess.
        double total = 0.0;
        for (double v : kept) {
            total += v;
        }
        return total / static_cast<double>(kept.size());
    }
    return Median(std::move(smoothed));
}

double SegmentSeconds(const PitchTrack& track, const Segment& s, double frame)
{
    return track[s.last].time + frame - track[s.first].time;
}

// Splits one voiced stretch where its pitch moves away and stays away.
std::vector<Segment> SplitByPitch(const PitchTrack& track, Segment run, double frame)
{
    std::vector<Segment> parts;
    const std::size_t stayFrames = std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(StaySeconds / frame)));
    std::size_t start = run.first;
    // The note so far: over its first vibrato period the middle of its range
    // (vibrato swings evenly around it), then the median of its frames (which a
    // glide cannot drag along). Frames of excursions that did not stay are not
    // part of the note.
    std::vector<double> sofar;
    double low = 0.0;
    double high = 0.0;
    double sofarStart = 0.0;
    for (std::size_t i = run.first; i <= run.last; ++i) {
        const double midi = track[i].midi;
        if (midi <= 0.0) {
            continue;
        }
        if (!sofar.empty()) {
            const bool settled = track[i].time - sofarStart >= VibratoWindowSeconds;
            const double reference = settled ? Median(sofar) : (low + high) / 2.0;
            if (std::fabs(midi - reference) > SplitSemitones) {
                // Does it stay there? Most of the frames from here on, for the stay
                // time, must lie that far away on the same side.
                const double side = midi > reference ? 1.0 : -1.0;
                std::size_t seen = 0;
                std::size_t away = 0;
                for (std::size_t k = i; k <= run.last && seen < stayFrames; ++k) {
                    if (track[k].midi > 0.0) {
                        ++seen;
                        if ((track[k].midi - reference) * side > SplitSemitones) {
                            ++away;
                        }
                    }
                }
                if (seen >= stayFrames && away * 5 >= seen * 4) {
                    parts.push_back({start, i - 1});
                    start = i;
                    sofar.clear();
                } else {
                    continue;
                }
            }
        }
        if (sofar.empty()) {
            low = high = midi;
            sofarStart = track[i].time;
        }
        low = std::min(low, midi);
        high = std::max(high, midi);
        sofar.push_back(midi);
    }
    parts.push_back({start, run.last});
    return parts;
}

}  // namespace

std::vector<SungNote> FindSungNotes(const PitchTrack& track)
{
    std::vector<SungNote> notes;
    if (track.empty()) {
        return notes;
    }
    const double frame = FrameSeconds(track);

    // Voiced stretches, with short dropouts bridged.
    std::vector<Segment> runs;
    std::size_t i = 0;
    while (i < track.size()) {
        if (track[i].midi <= 0.0) {
            ++i;
            continue;
        }
        Segment run{i, i};
        std::size_t k = i + 1;
        while (k < track.size()) {
            if (track[k].midi > 0.0) {
                run.last = k++;
                continue;
            }
            std::size_t next = k;
            while (next < track.size() && track[next].midi <= 0.0) {
                ++next;
            }
            if (next < track.size() && track[next].time - track[run.last].time - frame <= BridgedGapSeconds + 1e-9) {
                k = next;
                continue;
            }
            break;
        }
        runs.push_back(run);
        i = run.last + 1;
    }

    for (const Segment& run : runs) {
        if (SegmentSeconds(track, run, frame) < MinNoteSeconds - 1e-9) {
            continue;
        }
        std::vector<Segment> parts = SplitByPitch(track, run, frame);

        // Pieces too short to be notes (the scoop into a note, a glide) join the
        // neighbour nearest in pitch.
        bool merged = true;
        while (merged && parts.size() > 1) {
            merged = false;
            std::size_t shortest = parts.size();
            double shortestSeconds = MinNoteSeconds;
            for (std::size_t p = 0; p < parts.size(); ++p) {
                const double seconds = SegmentSeconds(track, parts[p], frame);
                if (seconds < shortestSeconds - 1e-9) {
                    shortest = p;
                    shortestSeconds = seconds;
                }
            }
            if (shortest == parts.size()) {
                break;
            }
            const double pitch = SteadyMedian(track, parts[shortest], frame);
            std::size_t into;
            if (shortest == 0) {
                into = 1;
            } else if (shortest + 1 == parts.size()) {
                into = shortest - 1;
            } else {
                const double before = std::fabs(SteadyMedian(track, parts[shortest - 1], frame) - pitch);
                const double after = std::fabs(SteadyMedian(track, parts[shortest + 1], frame) - pitch);
                into = before <= after ? shortest - 1 : shortest + 1;
            }
            const std::size_t lo = std::min(into, shortest);
            parts[lo] = {parts[lo].first, parts[lo + 1].last};
            parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(lo + 1));
            merged = true;
        }
        // A short piece an octave, an octave and a fifth or two octaves from a
        // longer neighbour it touches is the tracker locking onto an overtone or
        // an undertone (most often in the attack of a note), not a sung note.
        for (bool slipped = true; slipped && parts.size() > 1;) {
            slipped = false;
            for (std::size_t p = 0; p < parts.size() && !slipped; ++p) {
                const double seconds = SegmentSeconds(track, parts[p], frame);
                if (seconds >= OctaveSlipSeconds) {
                    continue;
                }
                const double pitch = SteadyMedian(track, parts[p], frame);
                for (const std::size_t q : {p - 1, p + 1}) {
                    if (q >= parts.size() || SegmentSeconds(track, parts[q], frame) <= seconds) {
                        continue;
                    }
                    const double apart = std::fabs(pitch - SteadyMedian(track, parts[q], frame));
                    const bool overtone = std::fabs(apart - 12.0) <= SlipSemitones ||
                                          std::fabs(apart - 19.02) <= SlipSemitones ||
                                          std::fabs(apart - 24.0) <= SlipSemitones;
                    if (overtone) {
                        const std::size_t lo = std::min(p, q);
                        parts[lo] = {parts[lo].first, parts[lo + 1].last};
                        parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(lo + 1));
                        slipped = true;
                        break;
                    }
                }
            }
        }
        // Neighbours that ended up on the same pitch are one note.
        for (std::size_t p = 1; p < parts.size();) {
            if (std::fabs(SteadyMedian(track, parts[p - 1], frame) - SteadyMedian(track, parts[p], frame)) <=
                SplitSemitones) {
                parts[p - 1].last = parts[p].last;
                parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(p));
            } else {
                ++p;
            }
        }

        for (const Segment& part : parts) {
            if (SegmentSeconds(track, part, frame) < MinNoteSeconds - 1e-9) {
                continue;
            }
            SungNote note;
            note.start = track[part.first].time;
            note.end = track[part.last].time + frame;
            note.midi = SteadyMedian(track, part, frame);
            notes.push_back(note);
        }
    }

    // A fragment of a note cut off from it by a dropout of the tracker (a
    // wavering attack) joins it: same pitch, a short gap, and one of the two
    // too short to be a sung note of its own. A repeated note, sung again after
    // a breath, is longer on both sides.
    for (std::size_t k = 1; k < notes.size();) {
        SungNote& before = notes[k - 1];
        const SungNote& after = notes[k];
        const bool fragment = std::min(before.end - before.start, after.end - after.start) < FragmentSeconds;
        if (fragment && after.start - before.end <= FragmentGapSeconds &&
            std::fabs(after.midi - before.midi) <= SplitSemitones) {
            before.midi = (before.end - before.start) >= (after.end - after.start) ? before.midi : after.midi;
            before.end = after.end;
            notes.erase(notes.begin() + static_cast<std::ptrdiff_t>(k));
        } else {
            ++k;
        }
    }
    return notes;
}

const char* VerdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::InTune:
        return "in tune";
    case Verdict::Flat:
        return "flat";
    case Verdict::Sharp:
        return "sharp";
    case Verdict::Wrong:
        return "wrong";
    case Verdict::Missed:
        return "missed";
    }
    return "missed";
}

double WrittenMidi(const NoteTableArray& table, const NoteRef& note, int32_t keyOffset)
{
    return static_cast<double>(table[NoteIndex(note.degree, note.accidental)].semitone + keyOffset + LowestDoKey);
}

double FoldToOctaveOf(double midi, double target)
{
    return midi + 12.0 * std::round((target - midi) / 12.0);
}

namespace {

Verdict VerdictOf(double cents)
{
    // A hair of slack, so that 60.0 cents made of sums of fractions stays 60.
    const double size = std::fabs(cents) - 1e-6;
    if (size <= InTuneCents) {
        return Verdict::InTune;
    }
    if (size <= OffCents) {
        return cents < 0 ? Verdict::Flat : Verdict::Sharp;
    }
    return Verdict::Wrong;
}

std::string Describe(const NoteGrade& g)
{
    const long cents = g.cents ? std::lround(std::fabs(*g.cents)) : 0;
    const char* side = g.cents && *g.cents < 0 ? "flat" : "sharp";
    switch (g.verdict) {
    case Verdict::Flat:
    case Verdict::Sharp:
        return g.syllable + " " + std::to_string(cents) + " cents " + side;
    case Verdict::Wrong:
        return g.syllable + " wrong note (" + std::to_string(cents) + " cents " + side + ")";
    case Verdict::Missed:
        return g.syllable + " missed";
    case Verdict::InTune:
        break;
    }
    return g.syllable + " in tune";
}

// "4 of 5 notes in tune - re 38 cents flat"; at most three faults are named.
std::string Summarize(const std::vector<NoteGrade>& notes, std::size_t extras, bool heardAnything)
{
    const std::size_t total = notes.size();
    if (!heardAnything) {
        return "Nothing heard";
    }
    std::size_t inTune = 0;
    std::vector<std::string> faults;
    for (const NoteGrade& g : notes) {
        if (g.verdict == Verdict::InTune) {
            ++inTune;
        } else {
            faults.push_back(Describe(g));
        }
    }
    std::string text;
    if (total > 1 && inTune == total) {
        text = "All " + std::to_string(total) + " notes in tune";
    } else {
        text = std::to_string(inTune) + " of " + std::to_string(total) + (total == 1 ? " note" : " notes") +
               " in tune";
    }
    constexpr std::size_t Named = 3;
    std::string list;
    for (std::size_t f = 0; f < faults.size() && f < Named; ++f) {
        list += (f ? ", " : "") + faults[f];
    }
    if (faults.size() > Named) {
        list += " and " + std::to_string(faults.size() - Named) + " more";
    }
    if (extras > 0) {
        list += (list.empty() ? "" : ", ") + std::to_string(extras) + (extras == 1 ? " extra note" : " extra notes");
    }
    if (!list.empty()) {
        text += " - " + list;
    }
    return text;
}

}  // namespace

CellGrade GradeSungNotes(const std::vector<SungNote>& sung, const Cell& cell, const NoteTableArray& table,
                         int32_t keyOffset, bool anyOctave)
{
    const std::size_t n = static_cast<std::size_t>(std::clamp<int32_t>(cell.count, 0, MaxNotes));
    const std::size_t m = sung.size();
    std::vector<double> written(n);
    for (std::size_t j = 0; j < n; ++j) {
        written[j] = WrittenMidi(table, cell.notes[j], keyOffset);
    }
    auto heardAs = [&](std::size_t i, std::size_t j) {
        return anyOctave ? FoldToOctaveOf(sung[i].midi, written[j]) : sung[i].midi;
    };
    auto matchCost = [&](std::size_t i, std::size_t j) {
        const double distance = std::fabs(heardAs(i, j) - written[j]);
        // The small slope past the cap still prefers the nearer of two far matches.
        return std::min(distance, MatchCap) + 0.01 * distance;
    };

    // cost[i][j]: best cost of the first i sung notes against the first j written ones.
    std::vector<std::vector<double>> cost(m + 1, std::vector<double>(n + 1, 0.0));
    enum Step : unsigned char { Match, Extra, Miss };
    std::vector<std::vector<Step>> step(m + 1, std::vector<Step>(n + 1, Match));
    for (std::size_t i = 1; i <= m; ++i) {
        cost[i][0] = cost[i - 1][0] + ExtraCost;
        step[i][0] = Extra;
    }
    for (std::size_t j = 1; j <= n; ++j) {
        cost[0][j] = cost[0][j - 1] + MissCost;
        step[0][j] = Miss;
    }
    for (std::size_t i = 1; i <= m; ++i) {
        for (std::size_t j = 1; j <= n; ++j) {
            // Ties go to a match, then to a missed written note.
            double best = cost[i - 1][j - 1] + matchCost(i - 1, j - 1);
            Step how = Match;
            const double miss = cost[i][j - 1] + MissCost;
            if (miss < best - 1e-9) {
                best = miss;
                how = Miss;
            }
            const double extra = cost[i - 1][j] + ExtraCost;
            if (extra < best - 1e-9) {
                best = extra;
                how = Extra;
            }
            cost[i][j] = best;
            step[i][j] = how;
        }
    }

    CellGrade grade;
    grade.notes.resize(n);
    for (std::size_t j = 0; j < n; ++j) {
        grade.notes[j].syllable = table[NoteIndex(cell.notes[j].degree, cell.notes[j].accidental)].syllable;
    }
    std::size_t extras = 0;
    std::size_t i = m;
    std::size_t j = n;
    while (i > 0 || j > 0) {
        switch (step[i][j]) {
        case Match: {
            const double cents = (heardAs(i - 1, j - 1) - written[j - 1]) * 100.0;
            grade.notes[j - 1].cents = cents;
            grade.notes[j - 1].verdict = VerdictOf(cents);
            --i;
            --j;
            break;
        }
        case Extra:
            ++extras;
            --i;
            break;
        case Miss:
            --j;
            break;
        }
    }
    grade.summary = Summarize(grade.notes, extras, m > 0);
    return grade;
}

CellGrade GradeCell(const PitchTrack& track, const Cell& cell, const NoteTableArray& table, int32_t keyOffset,
                    bool anyOctave)
{
    return GradeSungNotes(FindSungNotes(track), cell, table, keyOffset, anyOctave);
}

}  // namespace vocarine
