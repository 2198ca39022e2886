// Sung takes made without a singer: FluidSynth's General MIDI voices rendered
// offline, bent into the pitches a singer would hit (detuned notes, vibrato,
// glides), with noise mixed in. Used by the tests, the listening benchmark and
// make_takes, which writes a whole evaluation set to a folder.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/WavFile.h"
#include "core/CellBook.h"
#include "core/Grading.h"
#include "core/NoteTable.h"

namespace vocarine::takes {

// General MIDI programs of the voices (0-based).
constexpr int ChoirAahs = 52;
constexpr int VoiceOohs = 53;
constexpr int SynthVoice = 54;

const char* ProgramName(int program);

// One note as sung.
struct TakeNote {
    double midi = 60.0;          // the pitch sung, fractional MIDI key
    double start = 0.0;          // onset, seconds from the start of the take
    double seconds = 0.5;        // how long it is held
    double vibratoCents = 0.0;   // peak swing either side of the pitch
    double vibratoHz = 5.5;
    double glideSeconds = 0.0;   // starts at the previous note's pitch and bends to its own
    int velocity = 100;
};

struct TakeDescription {
    int program = ChoirAahs;
    uint32_t sampleRate = 44100;
    std::vector<TakeNote> notes;
    double seconds = 0.0;                 // length of the take; 0: last note's end plus 0.5 s
    std::optional<double> snrDb;          // white noise this far below the voice; none: clean
    uint32_t noiseSeed = 1;
    double peak = 0.5;                    // the voice is scaled to this peak level
};

// Renders takes; loading the soundfont once for all of them.
class TakeRenderer {
public:
    // Loads the first General MIDI soundfont found (or `soundfont`); Ok() says whether it did.
    explicit TakeRenderer(const std::string& soundfont = {});
    ~TakeRenderer();
    TakeRenderer(const TakeRenderer&) = delete;
    TakeRenderer& operator=(const TakeRenderer&) = delete;

    bool Ok() const;
    std::string Error() const;
    std::string SoundfontPath() const;

    // With `audibleOnsets`, also tells for every note when it becomes audible:
    // the first moment its level is within 20 dB of its held level (NaN: never).
    WavAudio Render(const TakeDescription& take, std::vector<double>* audibleOnsets = nullptr);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A take of the pitches `midis` (MIDI numbers, fractions for cents) sung by
// `program`, each held `seconds`, 0.2 s apart, after `leadIn` seconds of silence.
TakeDescription PitchesTake(const std::vector<double>& midis, int program = VoiceOohs, double seconds = 0.5,
                            double leadIn = 0.3);

// A take of `cell` sung in `keyOffset` by `program`: every note at its written
// pitch moved by `octaves` and by its entry of `detunesCents` (missing
// entries: 0), the notes whose indices are in `skip` left out; each note held
// `seconds`, 0.2 s apart, after `leadIn` seconds of silence.
TakeDescription CellTake(const Cell& cell, int32_t keyOffset, const std::vector<double>& detunesCents = {},
                         const std::vector<int>& skip = {}, int program = VoiceOohs, int octaves = 0,
                         double seconds = 0.5, double leadIn = 0.3);

// What a take of the evaluation set is meant to be graded as.
struct TruthNote {
    std::string syllable;
    double writtenMidi = 0.0;
    Verdict verdict = Verdict::Missed;
    std::optional<double> cents;   // as sung minus as written (after folding when anyOctave)
    std::optional<double> onset;   // when its sung note starts; none when skipped
    std::optional<double> sungMidi;
};

struct Truth {
    std::string cellFile;          // file name of the cell file, in the cells folder
    int cell = 1;                  // counted from 1
    Cell written;                  // that cell's notes
    std::string key;               // "F#"
    int32_t keyOffset = 0;
    bool anyOctave = true;
    std::vector<TruthNote> notes;  // one per written note
    std::vector<double> extraOnsets;
    // The conditions of the take, as the benchmark groups them.
    std::string voice;             // "Choir Aahs"
    std::string range;             // "low" (sung within 45..64) or "high" (62..81)
    bool octaveBelow = false;
    std::string fault;             // "none", "skipped", "extra"
    std::string noise;             // "clean", "40 dB", "25 dB", "15 dB"
    double vibratoCents = 0.0;
    bool glides = false;
};

struct EvalTake {
    TakeDescription take;
    Truth truth;
};

// Conditions one take of the set is drawn under.
struct EvalConditions {
    int program = ChoirAahs;
    bool low = false;                 // male range
    bool octaveBelow = false;         // sung an octave below the written cell
    bool exactOctave = false;         // graded without folding octaves
    int fault = 0;                    // 0 none, 1 one note skipped, 2 one extra note
    std::optional<double> snrDb;
    bool glides = false;
    std::optional<double> vibratoCents;  // none: drawn from 0..60
    // Per-note detunes are drawn from these; empty: the whole list (0, ±15 ... ±200).
    std::vector<double> detunes;
};

// Draws take `index` of the set made from `seed`: a cell of the bundled cell
// files in `cellsDir`, a key putting it in the condition's range, and detunes,
// vibrato and timing drawn from the seed. The same arguments give the same take.
std::optional<EvalTake> MakeEvalTake(uint64_t seed, int index, const EvalConditions& conditions,
                                     const std::string& cellsDir);

// The conditions of take `index` of the full evaluation set (cycling through
// every voice, range, octave, fault and noise level).
EvalConditions SetConditions(int index);

// JSON text of a take's truth.
std::string TruthJson(const Truth& truth);

// Verdict of a detune, as the grading limits put it.
Verdict ExpectedVerdict(double cents);

}  // namespace vocarine::takes
