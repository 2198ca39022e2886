#include "Takes.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "core/Keys.h"

namespace vocarine::takes {

namespace {

// Bend range of the rendering channels, in semitones either way: wide enough
// for a glide over an octave plus a detune.
constexpr int BendRange = 24;
// The pitch wheel is moved this often (samples). FluidSynth renders in blocks
// of 64 and starts notes on their boundaries: every write is a whole number of
// them, so a note starts at the same sample whatever was rendered before.
constexpr int Block = 64;
// A note is faded out over this long after its end.
constexpr double FadeSeconds = 0.04;

const char* const Soundfonts[] = {"/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/default-GM.sf2",
                                  "/usr/share/soundfonts/FluidR3_GM.sf2"};

// Random numbers the same on every system: SplitMix64, and uniform and normal
// draws made from it by hand (the standard distributions differ between libraries).
class Draws {
public:
    explicit Draws(uint64_t seed) : state_(seed) {}
    uint64_t Next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
    double Normal()
    {
        const double u1 = std::max(Uniform(), 1e-300);
        const double u2 = Uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
    }

private:
    uint64_t state_;
};

void QuietFluidSynth()
{
    static const bool done = [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
            fluid_set_log_function(level, nullptr, nullptr);
        }
        return true;
    }();
    (void)done;
}

}  // namespace

const char* ProgramName(int program)
{
    switch (program) {
    case ChoirAahs:
        return "Choir Aahs";
    case VoiceOohs:
        return "Voice Oohs";
    case SynthVoice:
        return "Synth Voice";
    default:
        return "other";
    }
}

struct TakeRenderer::Impl {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    double rate = 0.0;
    std::string soundfont;
    std::string error;
    int fontId = -1;
    // How far each (program, key) of the soundfont sounds from its nominal
    // pitch, in semitones: some samples are tuned off by a third of a semitone.
    std::map<std::pair<int, int>, double> tuning;

    double Tuning(int program, int key);

    // Readies channel 0 for a note of `key`. A reset synthesizer still starts a
    // note from the pitch of the channel's note before (FluidSynth keeps its last
    // key through a reset), so a silent note of the same key goes first.
    void StartNote(int program, int key)
    {
        float scrap[64];
        fluid_synth_system_reset(synth);
        fluid_synth_program_select(synth, 0, fontId, 0, static_cast<unsigned>(program));
        fluid_synth_noteon(synth, 0, key, 1);
        fluid_synth_write_float(synth, 64, scrap, 0, 1, scrap, 0, 1);
        fluid_synth_all_sounds_off(synth, 0);
        fluid_synth_write_float(synth, 64, scrap, 0, 1, scrap, 0, 1);
        fluid_synth_system_reset(synth);
        fluid_synth_program_select(synth, 0, fontId, 0, static_cast<unsigned>(program));
    }

    bool Open(double sampleRate)
    {
        Close();
        settings = new_fluid_settings();
        if (!settings) {
            error = "FluidSynth settings could not be made";
            return false;
        }
        fluid_settings_setnum(settings, "synth.sample-rate", sampleRate);
        fluid_settings_setint(settings, "synth.reverb.active", 0);
        fluid_settings_setint(settings, "synth.chorus.active", 0);
        fluid_settings_setnum(settings, "synth.gain", 0.5);
        fluid_settings_setint(settings, "synth.threadsafe-api", 0);
        synth = new_fluid_synth(settings);
        if (!synth) {
            error = "FluidSynth could not start";
            return false;
        }
        fontId = fluid_synth_sfload(synth, soundfont.c_str(), 1);
        if (fontId == FLUID_FAILED) {
            error = soundfont + ": the soundfont could not be loaded";
            return false;
        }
        if (rate != sampleRate) {
            tuning.clear();
        }
        rate = sampleRate;
        return true;
    }
    void Close()
    {
        if (synth) {
            delete_fluid_synth(synth);
        }
        if (settings) {
            delete_fluid_settings(settings);
        }
        synth = nullptr;
        settings = nullptr;
        
    }
};

namespace {

// Pitch of a held periodic sound known to lie within a semitone of
// `expectedMidi`: the lag of least squared difference over the whole stretch,
// interpolated between samples. Independent of the tracker it helps to check.
double MeasureHeldPitch(const std::vector<float>& x, double rate, double expectedMidi)
{
    const double period = rate / (440.0 * std::pow(2.0, (expectedMidi - 69.0) / 12.0));
    const int lo = static_cast<int>(std::floor(period / 1.06));
    const int hi = static_cast<int>(std::ceil(period * 1.06));
    if (lo < 2 || static_cast<std::size_t>(hi) * 4 >= x.size()) {
        return expectedMidi;
    }
    const std::size_t n = x.size() - static_cast<std::size_t>(hi) - 1;
    std::vector<double> d(static_cast<std::size_t>(hi - lo + 3), 0.0);
    for (int tau = lo - 1; tau <= hi + 1; ++tau) {
        double sum = 0.0;
        for (std::size_t t = 0; t < n; ++t) {
            const double diff = static_cast<double>(x[t]) - x[t + static_cast<std::size_t>(tau)];
            sum += diff * diff;
        }
        d[static_cast<std::size_t>(tau - lo + 1)] = sum;
    }
    std::size_t best = 1;
    for (std::size_t i = 1; i + 1 < d.size(); ++i) {
        if (d[i] < d[best]) {
            best = i;
        }
    }
    const double a = d[best - 1];
    const double b = d[best];
    const double c = d[best + 1];
    const double denom = a - 2.0 * b + c;
    const double shift = denom > 0.0 ? 0.5 * (a - c) / denom : 0.0;
    const double tau = static_cast<double>(lo) - 1.0 + static_cast<double>(best) + shift;
    return 69.0 + 12.0 * std::log2(rate / tau / 440.0);
}

}  // namespace

double TakeRenderer::Impl::Tuning(int program, int key)
{
    const auto found = tuning.find({program, key});
    if (found != tuning.end()) {
        return found->second;
    }
    StartNote(program, key);
    fluid_synth_noteon(synth, 0, key, 100);
    const int frames = static_cast<int>(rate * 0.7) / Block * Block;
    std::vector<float> left(static_cast<std::size_t>(frames));
    std::vector<float> right(static_cast<std::size_t>(frames));
    fluid_synth_write_float(synth, frames, left.data(), 0, 1, right.data(), 0, 1);
    fluid_synth_all_sounds_off(synth, 0);
    const std::size_t from = static_cast<std::size_t>(rate * 0.25);
    std::vector<float> held;
    for (std::size_t i = from; i < left.size(); ++i) {
        held.push_back(0.5f * (left[i] + right[i]));
    }
    const double offset = MeasureHeldPitch(held, rate, key) - key;
    tuning[{program, key}] = offset;
    return offset;
}

TakeRenderer::TakeRenderer(const std::string& soundfont) : impl_(std::make_unique<Impl>())
{
    QuietFluidSynth();
    if (!soundfont.empty()) {
        impl_->soundfont = soundfont;
    } else {
        for (const char* path : Soundfonts) {
            std::error_code ec;
            if (std::filesystem::is_regular_file(path, ec)) {
                impl_->soundfont = path;
                break;
            }
        }
    }
    if (impl_->soundfont.empty()) {
        impl_->error = "no General MIDI soundfont was found (install fluid-soundfont-gm)";
        return;
    }
    impl_->Open(44100.0);
}

TakeRenderer::~TakeRenderer()
{
    impl_->Close();
}

bool TakeRenderer::Ok() const
{
    return impl_->synth != nullptr && impl_->error.empty();
}

std::string TakeRenderer::Error() const
{
    return impl_->error;
}

std::string TakeRenderer::SoundfontPath() const
{
    return impl_->soundfont;
}

WavAudio TakeRenderer::Render(const TakeDescription& take, std::vector<double>* audibleOnsets)
{
    WavAudio audio;
    audio.sampleRate = take.sampleRate;
    if (!Ok()) {
        return audio;
    }
    Impl& m = *impl_;
    if (m.rate != take.sampleRate && !m.Open(take.sampleRate)) {
        return audio;
    }
    const double rate = take.sampleRate;
    double length = take.seconds;
    if (length <= 0.0) {
        for (const TakeNote& n : take.notes) {
            length = std::max(length, n.start + n.seconds + 0.5);
        }
        length = std::max(length, 0.5);
    }
    const std::size_t total = static_cast<std::size_t>(std::ceil(length * rate));
    std::vector<float> voice(total, 0.0f);
    std::vector<float> left;
    std::vector<float> right;
    const std::size_t fade = static_cast<std::size_t>(FadeSeconds * rate);
    std::vector<double> onsets;

    // A singer sings one note at a time: every note is rendered on its own and
    // faded out at its end, where the soundfont would let it ring on under the next.
    for (std::size_t i = 0; i < take.notes.size(); ++i) {
        const TakeNote& n = take.notes[i];
        const std::size_t begin = static_cast<std::size_t>(std::llround(n.start * rate));
        if (begin >= total) {
            onsets.push_back(NAN);
            continue;
        }
        const std::size_t held = static_cast<std::size_t>(std::llround(n.seconds * rate));
        const std::size_t length = std::min(total - begin, held + fade);
        const std::size_t blocks = (length + Block - 1) / Block;
        left.assign(blocks * Block, 0.0f);
        right.assign(blocks * Block, 0.0f);
        const int key = std::clamp(static_cast<int>(std::lround(n.midi)), 0, 127);
        const double tuning = m.Tuning(take.program, key);
        m.StartNote(take.program, key);
        fluid_synth_pitch_wheel_sens(m.synth, 0, BendRange);
        const double from = i > 0 ? take.notes[i - 1].midi : n.midi;
        for (std::size_t b = 0; b < blocks; ++b) {
            const double since = static_cast<double>(b * Block) / rate;
            double pitch = n.midi;
            if (n.glideSeconds > 0.0 && since < n.glideSeconds) {
                const double share = 0.5 - 0.5 * std::cos(M_PI * since / n.glideSeconds);
                pitch = from + (n.midi - from) * share;
            }
            if (n.vibratoCents > 0.0) {
                // Vibrato grows in over its first 150 ms, as a singer's does.
                const double grow = std::min(1.0, since / 0.15);
                pitch += grow * n.vibratoCents / 100.0 * std::sin(2.0 * M_PI * n.vibratoHz * since);
            }
            const double bend = (pitch - key - tuning) / BendRange;
            fluid_synth_pitch_bend(m.synth, 0,
                                   std::clamp(static_cast<int>(std::lround(8192.0 + bend * 8192.0)), 0, 16383));
            if (b == 0) {
                fluid_synth_noteon(m.synth, 0, key, n.velocity);
            }
            fluid_synth_write_float(m.synth, Block, left.data(), static_cast<int>(b * Block), 1, right.data(),
                                    static_cast<int>(b * Block), 1);
        }
        fluid_synth_all_sounds_off(m.synth, 0);

        std::vector<float> note(length);
        for (std::size_t k = 0; k < length; ++k) {
            float gain = 1.0f;
            if (k >= held) {
                gain = static_cast<float>(0.5 + 0.5 * std::cos(M_PI * static_cast<double>(k - held) / fade));
            }
            note[k] = gain * 0.5f * (left[k] + right[k]);
        }
        // Where it becomes audible: the first 5 ms within 20 dB of its held level.
        const std::size_t win = static_cast<std::size_t>(rate * 0.005);
        auto levelAt = [&](std::size_t at) {
            double e = 0.0;
            for (std::size_t k = at; k < at + win && k < length; ++k) {
                e += static_cast<double>(note[k]) * note[k];
            }
            return std::sqrt(e / static_cast<double>(win));
        };
        const double heldLevel = levelAt(std::min(held, length) / 2);
        double onset = NAN;
        for (std::size_t k = 0; k + win < length && k < held / 2; k += win / 5) {
            if (levelAt(k) >= heldLevel * 0.1) {
                onset = static_cast<double>(begin + k) / rate;
                break;
            }
        }
        onsets.push_back(onset);
        for (std::size_t k = 0; k < length; ++k) {
            voice[begin + k] += note[k];
        }
    }
    if (audibleOnsets) {
        *audibleOnsets = onsets;
    }

    float peak = 0.0f;
    for (float v : voice) {
        peak = std::max(peak, std::fabs(v));
    }
    const float scale = peak > 0.0f ? static_cast<float>(take.peak) / peak : 1.0f;
    for (float& v : voice) {
        v *= scale;
    }

    if (take.snrDb) {
        // The voice's level over its notes sets the noise level.
        double energy = 0.0;
        std::size_t count = 0;
        for (const TakeNote& n : take.notes) {
            const std::size_t from = static_cast<std::size_t>(n.start * rate);
            const std::size_t to = std::min(total, static_cast<std::size_t>((n.start + n.seconds) * rate));
            for (std::size_t k = from; k < to; ++k) {
                energy += static_cast<double>(voice[k]) * voice[k];
            }
            count += to > from ? to - from : 0;
        }
        const double signal = count ? std::sqrt(energy / count) : 0.0;
        const double noise = signal / std::pow(10.0, *take.snrDb / 20.0);
        Draws draws(take.noiseSeed * 0x2545F4914F6CDD1Dull + 17);
        for (float& v : voice) {
            v += static_cast<float>(noise * draws.Normal());
        }
    }
    audio.samples = std::move(voice);
    return audio;
}

TakeDescription PitchesTake(const std::vector<double>& midis, int program, double seconds, double leadIn)
{
    TakeDescription take;
    take.program = program;
    double t = leadIn;
    for (const double midi : midis) {
        TakeNote note;
        note.midi = midi;
        note.start = t;
        note.seconds = seconds;
        take.notes.push_back(note);
        t += seconds + 0.2;
    }
    take.seconds = t + 0.3;
    return take;
}

TakeDescription CellTake(const Cell& cell, int32_t keyOffset, const std::vector<double>& detunesCents,
                         const std::vector<int>& skip, int program, int octaves, double seconds, double leadIn)
{
    NoteTableArray table;
    BuildNoteTable(table);
    std::vector<double> midis;
    for (int j = 0; j < std::clamp<int32_t>(cell.count, 0, MaxNotes); ++j) {
        if (std::find(skip.begin(), skip.end(), j) != skip.end()) {
            continue;
        }
        const double detune = static_cast<std::size_t>(j) < detunesCents.size() ? detunesCents[static_cast<std::size_t>(j)] : 0.0;
        midis.push_back(WrittenMidi(table, cell.notes[static_cast<std::size_t>(j)], keyOffset) + 12.0 * octaves +
                        detune / 100.0);
    }
    return PitchesTake(midis, program, seconds, leadIn);
}

Verdict ExpectedVerdict(double cents)
{
    const double size = std::fabs(cents);
    if (size <= 25.0) {
        return Verdict::InTune;
    }
    if (size <= 60.0) {
        return cents < 0 ? Verdict::Flat : Verdict::Sharp;
    }
    return Verdict::Wrong;
}

EvalConditions SetConditions(int index)
{
    static const int programs[] = {ChoirAahs, VoiceOohs, SynthVoice};
    static const std::optional<double> noises[] = {std::nullopt, 40.0, 25.0, 15.0};
    EvalConditions c;
    c.snrDb = noises[index % 4];
    c.program = programs[(index / 4) % 3];
    c.fault = (index / 12) % 3;
    c.low = (index / 36) % 2 == 1;
    c.octaveBelow = (index / 72) % 2 == 1;
    c.glides = (index / 144) % 2 == 1;
    // A few of the takes sung an octave below are graded at the octave as written.
    c.exactOctave = c.octaveBelow && (index / 12) % 5 == 4;
    return c;
}

namespace {

struct BookFile {
    std::string name;
    ParsedBook book;
};

const std::vector<BookFile>& Books(const std::string& cellsDir)
{
    static std::string loadedFrom;
    static std::vector<BookFile> books;
    if (loadedFrom != cellsDir || books.empty()) {
        books.clear();
        loadedFrom = cellsDir;
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(cellsDir, ec)) {
            if (entry.path().extension() == ".txt") {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            CellFileResult result = ReadCellFile((std::filesystem::path(cellsDir) / name).string());
            if (const ParsedBook* book = std::get_if<ParsedBook>(&result)) {
                if (book->count > 0) {
                    books.push_back({name, *book});
                }
            }
        }
    }
    return books;
}

std::string KeyName(int32_t keyOffset)
{
    return KeyItemText(KeyToItem(keyOffset));
}

}  // namespace

std::optional<EvalTake> MakeEvalTake(uint64_t seed, int index, const EvalConditions& c, const std::string& cellsDir)
{
    const std::vector<BookFile>& books = Books(cellsDir);
    if (books.empty()) {
        return std::nullopt;
    }
    Draws draws(seed * 0x9E3779B97F4A7C15ull ^ (static_cast<uint64_t>(index) * 0xD1B54A32D192ED03ull + 1));
    NoteTableArray table;
    BuildNoteTable(table);
    static const double allDetunes[] = {0, 15, -15, 35, -35, 50, -50, 80, -80, 100, -100, 200, -200};
    const double shift = c.octaveBelow ? -12.0 : 0.0;
    const double lowest = c.low ? 45.0 : 62.0;
    const double highest = c.low ? 64.0 : 81.0;

    for (int attempt = 0; attempt < 500; ++attempt) {
        const BookFile& file = books[static_cast<std::size_t>(draws.Below(static_cast<int>(books.size())))];
        const int cellIndex = draws.Below(file.book.count);
        const Cell& cell = file.book.cells[static_cast<std::size_t>(cellIndex)];
        if (cell.count < 2 || (c.fault == 1 && cell.count < 3)) {
            continue;
        }
        const std::size_t n = static_cast<std::size_t>(cell.count);

        // Detunes first, then a key that keeps every sung pitch in the range.
        std::vector<double> detunes(n);
        for (double& d : detunes) {
            if (!c.detunes.empty()) {
                d = c.detunes[static_cast<std::size_t>(draws.Below(static_cast<int>(c.detunes.size())))];
            } else {
                d = draws.Uniform() < 0.25 ? 0.0 : allDetunes[1 + draws.Below(12)];
            }
        }
        const int faultAt = static_cast<int>(draws.Below(static_cast<int>(c.fault == 2 ? n - 1 : n)));
        if (c.fault != 0) {
            // Next to a skipped or extra note the notes stay near their pitch, so
            // that what was sung can be told apart from what was left out.
            for (int k = faultAt - 1; k <= faultAt + 2; ++k) {
                if (k >= 0 && k < static_cast<int>(n) && std::fabs(detunes[static_cast<std::size_t>(k)]) > 50.0) {
                    detunes[static_cast<std::size_t>(k)] = 0.0;
                }
            }
        }
        const int keyStart = draws.Below(12);
        std::optional<int32_t> key;
        for (int k = 0; k < 12 && !key; ++k) {
            const int32_t offset = (keyStart + k) % 12 - 2;
            bool fits = true;
            for (std::size_t j = 0; j < n && fits; ++j) {
                const double sung = WrittenMidi(table, cell.notes[j], offset) + shift + detunes[j] / 100.0;
                fits = sung >= lowest && sung <= highest;
            }
            if (fits) {
                key = offset;
            }
        }
        if (!key) {
            continue;
        }
        std::vector<double> written(n);
        for (std::size_t j = 0; j < n; ++j) {
            written[j] = WrittenMidi(table, cell.notes[j], *key);
        }
        if (c.fault == 1) {
            // A skipped note must differ from the notes around it.
            const std::size_t k = static_cast<std::size_t>(faultAt);
            if ((k > 0 && std::fabs(written[k] - written[k - 1]) < 1.0) ||
                (k + 1 < n && std::fabs(written[k] - written[k + 1]) < 1.0) ||
                (k > 0 && k + 1 < n && std::fabs(written[k - 1] - written[k + 1]) < 1.0)) {
                continue;
            }
        }
        std::optional<double> extraPitch;
        if (c.fault == 2) {
            // An extra note well away from the notes before and after it.
            const std::size_t k = static_cast<std::size_t>(faultAt);
            for (int tries = 0; tries < 50 && !extraPitch; ++tries) {
                const double pitch = std::round(draws.Uniform(lowest, highest));
                if (std::fabs(pitch - (written[k] + shift)) >= 3.0 && std::fabs(pitch - (written[k + 1] + shift)) >= 3.0) {
                    extraPitch = pitch;
                }
            }
            if (!extraPitch) {
                continue;
            }
        }

        // Notes sung one after another lie at least a semitone apart: a singer
        // would re-attack a repeated pitch, and these voices cannot.
        std::vector<double> sequence;
        for (std::size_t j = 0; j < n; ++j) {
            if (!(c.fault == 1 && static_cast<int>(j) == faultAt)) {
                sequence.push_back(written[j] + shift + detunes[j] / 100.0);
            }
            if (c.fault == 2 && static_cast<int>(j) == faultAt) {
                sequence.push_back(*extraPitch);
            }
        }
        bool apart = true;
        for (std::size_t j = 1; j < sequence.size(); ++j) {
            apart = apart && std::fabs(sequence[j] - sequence[j - 1]) >= 1.0;
        }
        if (!apart) {
            continue;
        }

        EvalTake result;
        TakeDescription& take = result.take;
        Truth& truth = result.truth;
        take.program = c.program;
        take.snrDb = c.snrDb;
        take.noiseSeed = static_cast<uint32_t>(draws.Next());
        truth.cellFile = file.name;
        truth.cell = cellIndex + 1;
        truth.written = cell;
        truth.keyOffset = *key;
        truth.key = KeyName(*key);
        truth.anyOctave = !c.exactOctave;
        truth.voice = ProgramName(c.program);
        truth.range = c.low ? "low" : "high";
        truth.octaveBelow = c.octaveBelow;
        truth.fault = c.fault == 0 ? "none" : c.fault == 1 ? "skipped" : "extra";
        truth.noise = c.snrDb ? std::to_string(static_cast<int>(*c.snrDb)) + " dB" : "clean";
        truth.glides = c.glides;
        truth.vibratoCents = c.vibratoCents ? *c.vibratoCents : std::round(draws.Uniform(0.0, 60.0));
        const double vibratoHz = draws.Uniform(4.5, 6.5);

        double t = draws.Uniform(0.3, 0.6);
        double previous = 0.0;
        auto sing = [&](double pitch) {
            TakeNote note;
            note.midi = pitch;
            note.seconds = draws.Uniform(0.45, 0.9);
            note.vibratoCents = truth.vibratoCents;
            note.vibratoHz = vibratoHz;
            note.velocity = 90 + draws.Below(27);
            const bool legato = c.glides && !take.notes.empty() && std::fabs(pitch - previous) >= 1.0;
            if (legato) {
                note.start = t;
                note.glideSeconds = draws.Uniform(0.04, 0.1);
            } else {
                note.start = t + (take.notes.empty() ? 0.0 : draws.Uniform(0.12, 0.3));
            }
            t = note.start + note.seconds;
            previous = pitch;
            take.notes.push_back(note);
            return note.start;
        };
        for (std::size_t j = 0; j < n; ++j) {
            TruthNote tn;
            tn.syllable = table[NoteIndex(cell.notes[j].degree, cell.notes[j].accidental)].syllable;
            tn.writtenMidi = written[j];
            if (c.fault == 1 && static_cast<int>(j) == faultAt) {
                tn.verdict = Verdict::Missed;
            } else {
                const double sung = written[j] + shift + detunes[j] / 100.0;
                tn.sungMidi = sung;
                tn.onset = sing(sung);
                const double heard = truth.anyOctave ? FoldToOctaveOf(sung, written[j]) : sung;
                tn.cents = (heard - written[j]) * 100.0;
                tn.verdict = ExpectedVerdict(*tn.cents);
            }
            truth.notes.push_back(tn);
            if (c.fault == 2 && static_cast<int>(j) == faultAt) {
                truth.extraOnsets.push_back(sing(*extraPitch));
            }
        }
        take.seconds = t + draws.Uniform(0.5, 0.8);

        // Some takes cannot be graded as meant even from perfectly heard pitches
        // (a note sung 200 cents off next to a skipped one can pass for its
        // neighbour): those are drawn again.
        std::vector<SungNote> perfect;
        for (const TakeNote& note : take.notes) {
            perfect.push_back({note.start, note.start + note.seconds, note.midi});
        }
        const CellGrade ideal = GradeSungNotes(perfect, cell, table, *key, truth.anyOctave);
        bool gradable = ideal.notes.size() == truth.notes.size();
        for (std::size_t j = 0; gradable && j < truth.notes.size(); ++j) {
            gradable = ideal.notes[j].verdict == truth.notes[j].verdict;
        }
        if (!gradable) {
            continue;
        }
        return result;
    }
    return std::nullopt;
}

namespace {

std::string Number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

std::string Quoted(const std::string& s)
{
    std::string out = "\"";
    for (char ch : s) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
        }
        out += ch;
    }
    return out + "\"";
}

}  // namespace

std::string TruthJson(const Truth& truth)
{
    std::ostringstream out;
    out << "{\n  \"cellFile\": " << Quoted(truth.cellFile) << ",\n  \"cell\": " << truth.cell
        << ",\n  \"key\": " << Quoted(truth.key) << ",\n  \"anyOctave\": " << (truth.anyOctave ? "true" : "false")
        << ",\n  \"voice\": " << Quoted(truth.voice) << ",\n  \"range\": " << Quoted(truth.range)
        << ",\n  \"octaveBelow\": " << (truth.octaveBelow ? "true" : "false") << ",\n  \"fault\": "
        << Quoted(truth.fault) << ",\n  \"noise\": " << Quoted(truth.noise) << ",\n  \"vibratoCents\": "
        << Number(truth.vibratoCents) << ",\n  \"glides\": " << (truth.glides ? "true" : "false")
        << ",\n  \"notes\": [";
    for (std::size_t i = 0; i < truth.notes.size(); ++i) {
        const TruthNote& n = truth.notes[i];
        out << (i ? "," : "") << "\n    {\"syllable\": " << Quoted(n.syllable) << ", \"written\": "
            << Number(n.writtenMidi) << ", \"verdict\": " << Quoted(VerdictName(n.verdict))
            << ", \"cents\": " << (n.cents ? Number(*n.cents) : "null")
            << ", \"sung\": " << (n.sungMidi ? Number(*n.sungMidi) : "null")
            << ", \"onset\": " << (n.onset ? Number(*n.onset) : "null") << "}";
    }
    out << "\n  ],\n  \"extraOnsets\": [";
    for (std::size_t i = 0; i < truth.extraOnsets.size(); ++i) {
        out << (i ? ", " : "") << Number(truth.extraOnsets[i]);
    }
    out << "]\n}\n";
    return out.str();
}

}  // namespace vocarine::takes
