// How well listening grades sung takes, per condition, and what it costs.
// Renders the evaluation set (the takes make_takes writes) in memory, tracks
// every take with each of aubio's YIN methods, fed in chunks as a device
// delivers them, grades it, and compares with the take's truth:
//   - verdict accuracy: written notes whose verdict matches the truth
//   - error in cents of every sung note (graded cents minus true cents), median and p95
//   - octave errors: frames of the steady middle of a note tracked 6 or more semitones off
//   - latency: from a note's audible onset (after silence) to its first trace point,
//     a voiced frame within a semitone and a half of the note (a frame is
//     available at the end of its hop)
//   - processor use: process CPU time of tracking / duration of the audio
//   listen_bench [--seed N] [--count N] [--chunk N] [--cells DIR]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "Takes.h"
#include "audio/PitchTracker.h"
#include "core/Grading.h"

using namespace vocarine;
using namespace vocarine::takes;

namespace {

int currentTake = 0;

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty()) {
        return NAN;
    }
    std::sort(v.begin(), v.end());
    const double at = p * static_cast<double>(v.size() - 1);
    const std::size_t lo = static_cast<std::size_t>(std::floor(at));
    const std::size_t hi = std::min(v.size() - 1, lo + 1);
    return v[lo] + (v[hi] - v[lo]) * (at - static_cast<double>(lo));
}

struct Tally {
    int takes = 0;
    int notes = 0;
    int right = 0;
    std::vector<double> errors;     // |graded - true| cents of sung notes graded as sung
    long steadyFrames = 0;
    long octaveFrames = 0;
    std::vector<double> latencies;  // ms
    double audioSeconds = 0.0;
    double cpuSeconds = 0.0;
    std::map<std::string, int> confusions;

    void Add(const Tally& t)
    {
        takes += t.takes;
        notes += t.notes;
        right += t.right;
        errors.insert(errors.end(), t.errors.begin(), t.errors.end());
        steadyFrames += t.steadyFrames;
        octaveFrames += t.octaveFrames;
        latencies.insert(latencies.end(), t.latencies.begin(), t.latencies.end());
        audioSeconds += t.audioSeconds;
        cpuSeconds += t.cpuSeconds;
        for (const auto& [k, v] : t.confusions) {
            confusions[k] += v;
        }
    }
};

Tally Evaluate(const EvalTake& take, const WavAudio& audio, const std::vector<double>& audibleOnsets,
               PitchMethod method, std::size_t chunk)
{
    Tally t;
    t.takes = 1;
    PitchTracker tracker(audio.sampleRate, method);
    PitchTrack track;
    track.reserve(audio.samples.size() / 100);
    const double cpuStart = CpuSeconds();
    for (std::size_t at = 0; at < audio.samples.size(); at += chunk) {
        tracker.Feed(audio.samples.data() + at, std::min(chunk, audio.samples.size() - at), track);
    }
    t.cpuSeconds = CpuSeconds() - cpuStart;
    t.audioSeconds = static_cast<double>(audio.samples.size()) / audio.sampleRate;

    NoteTableArray table;
    BuildNoteTable(table);
    const Cell& cell = take.truth.written;
    const CellGrade grade = GradeCell(track, cell, table, take.truth.keyOffset, take.truth.anyOctave);
    for (std::size_t j = 0; j < take.truth.notes.size(); ++j) {
        const TruthNote& truth = take.truth.notes[j];
        const NoteGrade& got = grade.notes[j];
        ++t.notes;
        if (got.verdict == truth.verdict) {
            ++t.right;
        } else {
            ++t.confusions[std::string(VerdictName(truth.verdict)) + " as " + VerdictName(got.verdict)];
        }
        if (truth.cents && got.cents) {
            t.errors.push_back(std::fabs(*got.cents - *truth.cents));
        }
        if (std::getenv("LISTEN_BENCH_VERBOSE") && method == kDefaultPitchMethod &&
            (got.verdict != truth.verdict || (truth.cents && got.cents && std::fabs(*got.cents - *truth.cents) > 10))) {
            std::fprintf(stderr, "take %d: %s %s cell %d key %s note %zu %s: truth %s %.0f, got %s %.1f (%s, %s, %s, vib %.0f)\n",
                         currentTake, take.truth.cellFile.c_str(), take.truth.voice.c_str(), take.truth.cell, take.truth.key.c_str(),
                         j + 1, truth.syllable.c_str(), VerdictName(truth.verdict), truth.cents.value_or(NAN),
                         VerdictName(got.verdict), got.cents.value_or(NAN), take.truth.noise.c_str(),
                         take.truth.fault.c_str(), take.truth.range.c_str(), take.truth.vibratoCents);
        }
    }

    // Frames of the steady middle of every sung note, and the latency of the
    // notes that start after silence.
    const double hop = tracker.HopSeconds();
    std::size_t sungIndex = 0;
    for (std::size_t j = 0; j < take.truth.notes.size(); ++j) {
        const TruthNote& truth = take.truth.notes[j];
        if (!truth.sungMidi) {
            continue;
        }
        // Find this note in the take (extra notes sit between the sung ones).
        while (sungIndex < take.take.notes.size() &&
               std::fabs(take.take.notes[sungIndex].start - *truth.onset) > 1e-9) {
            ++sungIndex;
        }
        if (sungIndex >= take.take.notes.size()) {
            break;
        }
        const TakeNote& note = take.take.notes[sungIndex];
        const double from = note.start + 0.25 * note.seconds;
        const double to = note.start + 0.75 * note.seconds;
        for (const PitchFrame& f : track) {
            if (f.time - hop >= from && f.time <= to) {
                ++t.steadyFrames;
                if (f.midi <= 0.0 || std::fabs(f.midi - note.midi) >= 6.0) {
                    t.octaveFrames += f.midi > 0.0 ? 1 : 0;
                }
            }
        }
        const bool afterSilence = note.glideSeconds <= 0.0;
        const double onset = sungIndex < audibleOnsets.size() ? audibleOnsets[sungIndex] : NAN;
        if (afterSilence && std::isfinite(onset)) {
            const double reach = 1.5 + note.vibratoCents / 100.0;
            for (const PitchFrame& f : track) {
                if (f.time >= onset && f.time <= onset + 0.5 && f.midi > 0.0 && std::fabs(f.midi - note.midi) <= reach) {
                    t.latencies.push_back((f.time - onset) * 1000.0);
                    break;
                }
            }
        }
        ++sungIndex;
    }
    return t;
}

void PrintHeader()
{
    std::printf("| %-24s | %5s | %5s | %9s | %8s | %8s | %9s | %9s | %9s | %6s |\n", "condition", "takes", "notes",
                "accuracy", "err p50", "err p95", "oct. err", "lat. p50", "lat. p95", "CPU");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n", std::string(26, '-').c_str(), std::string(7, '-').c_str(),
                std::string(7, '-').c_str(), std::string(11, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str(), std::string(11, '-').c_str(), std::string(11, '-').c_str(),
                std::string(11, '-').c_str(), std::string(8, '-').c_str());
}

void PrintRow(const std::string& name, const Tally& t)
{
    std::printf("| %-24s | %5d | %5d | %8.1f%% | %5.1f ct | %5.1f ct | %8.2f%% | %6.1f ms | %6.1f ms | %5.2f%% |\n",
                name.c_str(), t.takes, t.notes, t.notes ? 100.0 * t.right / t.notes : 0.0,
                Percentile(t.errors, 0.5), Percentile(t.errors, 0.95),
                t.steadyFrames ? 100.0 * static_cast<double>(t.octaveFrames) / static_cast<double>(t.steadyFrames) : 0.0,
                Percentile(t.latencies, 0.5), Percentile(t.latencies, 0.95),
                t.audioSeconds > 0 ? 100.0 * t.cpuSeconds / t.audioSeconds : 0.0);
}

}  // namespace

int main(int argc, char** argv)
{
    uint64_t seed = 1;
    int count = 288;
    std::size_t chunk = 256;
    std::string cells = VOCARINE_CELLS_SOURCE_DIR;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--seed") {
            seed = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (arg == "--count") {
            count = std::atoi(argv[i + 1]);
        } else if (arg == "--chunk") {
            chunk = static_cast<std::size_t>(std::max(1, std::atoi(argv[i + 1])));
        } else if (arg == "--cells") {
            cells = argv[i + 1];
        } else {
            std::fprintf(stderr, "usage: listen_bench [--seed N] [--count N] [--chunk N] [--cells DIR]\n");
            return 2;
        }
    }
    TakeRenderer renderer;
    if (!renderer.Ok()) {
        std::fprintf(stderr, "listen_bench: %s\n", renderer.Error().c_str());
        return 1;
    }
    const PitchMethod methods[] = {PitchMethod::YinFft, PitchMethod::Yin, PitchMethod::YinFast};
    std::map<PitchMethod, Tally> all;
    std::map<PitchMethod, Tally> loud;  // 25 dB SNR and above
    std::map<std::string, Tally> groups;  // the chosen method, per condition
    std::vector<std::string> order;
    auto group = [&](const std::string& name) -> Tally& {
        if (groups.find(name) == groups.end()) {
            order.push_back(name);
        }
        return groups[name];
    };
    for (int i = 0; i < count; ++i) {
        const std::optional<EvalTake> take = MakeEvalTake(seed, i, SetConditions(i), cells);
        if (!take) {
            std::fprintf(stderr, "listen_bench: no cell fits take %d\n", i + 1);
            return 1;
        }
        currentTake = i + 1;
        std::vector<double> onsets;
        const WavAudio audio = renderer.Render(take->take, &onsets);
        for (PitchMethod method : methods) {
            const Tally t = Evaluate(*take, audio, onsets, method, chunk);
            all[method].Add(t);
            if (take->truth.noise != "15 dB") {
                loud[method].Add(t);
            }
            if (method != kDefaultPitchMethod) {
                continue;
            }
            const Truth& truth = take->truth;
            group("all takes").Add(t);
            group("noise: " + truth.noise).Add(t);
            group("voice: " + truth.voice).Add(t);
            group(std::string("range: ") + (truth.range == "low" ? "low (45-64)" : "high (62-81)")).Add(t);
            group(std::string("sung: ") + (truth.octaveBelow ? (truth.anyOctave ? "8ve below, any 8ve" : "8ve below, exact")
                                                              : "as written"))
                .Add(t);
            group("fault: " + truth.fault).Add(t);
            group(std::string("glides: ") + (truth.glides ? "yes" : "no")).Add(t);
            const char* vibrato = truth.vibratoCents < 20 ? "0-19" : truth.vibratoCents < 40 ? "20-39" : "40-60";
            group(std::string("vibrato: ") + vibrato + " ct").Add(t);
        }
    }
    std::printf("Listening benchmark: %d takes from seed %llu, fed in chunks of %zu samples at 44100 Hz\n\n", count,
                static_cast<unsigned long long>(seed), chunk);
    std::printf("Per condition, method %s:\n\n", PitchMethodName(kDefaultPitchMethod));
    PrintHeader();
    // Rows grouped by condition, in the order the set is described.
    const std::vector<std::string> rank = {"all",    "noise: clean", "noise: 40", "noise: 25", "noise: 15", "voice",
                                           "range", "sung",         "fault",     "glides",    "vibrato"};
    auto rankOf = [&](const std::string& name) {
        for (std::size_t r = 0; r < rank.size(); ++r) {
            if (name.rfind(rank[r], 0) == 0) {
                return r;
            }
        }
        return rank.size();
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](const std::string& a, const std::string& b) { return rankOf(a) < rankOf(b); });
    for (const std::string& name : order) {
        PrintRow(name, groups[name]);
    }
    std::printf("\nMethods compared on the same takes (accuracy >= 25 dB: clean, 40 dB and 25 dB takes):\n\n");
    std::printf("| %-8s | %9s | %15s | %8s | %8s | %9s | %9s | %9s | %6s |\n", "method", "accuracy",
                "accuracy >=25dB", "err p50", "err p95", "oct. err", "lat. p50", "lat. p95", "CPU");
    std::printf("|----------|-----------|-----------------|----------|----------|-----------|-----------|-----------|--------|\n");
    for (PitchMethod method : methods) {
        const Tally& t = all[method];
        const Tally& l = loud[method];
        std::printf("| %-8s | %8.1f%% | %14.1f%% | %5.1f ct | %5.1f ct | %8.2f%% | %6.1f ms | %6.1f ms | %5.2f%% |\n",
                    PitchMethodName(method), 100.0 * t.right / std::max(1, t.notes),
                    100.0 * l.right / std::max(1, l.notes), Percentile(t.errors, 0.5), Percentile(t.errors, 0.95),
                    t.steadyFrames ? 100.0 * static_cast<double>(t.octaveFrames) / static_cast<double>(t.steadyFrames)
                                   : 0.0,
                    Percentile(t.latencies, 0.5), Percentile(t.latencies, 0.95),
                    100.0 * t.cpuSeconds / std::max(1e-9, t.audioSeconds));
    }
    std::printf("\nWrong verdicts of %s (truth as graded):\n", PitchMethodName(kDefaultPitchMethod));
    for (const auto& [what, n] : all[kDefaultPitchMethod].confusions) {
        std::printf("  %-22s %d\n", what.c_str(), n);
    }
    return 0;
}
