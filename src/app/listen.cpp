// vocarine-listen: grades a recorded take of one cell, offline.
//   vocarine-listen [--exact-octave] [--json] TAKE.wav CELLFILE CELL KEY
// Prints one line per written note and the summary line (or one JSON object).
// Bad input: a message naming the file and what is wrong, exit status 2.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/PitchTracker.h"
#include "audio/WavFile.h"
#include "core/CellBook.h"
#include "core/Grading.h"
#include "core/Keys.h"
#include "core/NoteTable.h"

using namespace vocarine;

namespace {

constexpr int BadInput = 2;

const char* const Usage =
    "usage: vocarine-listen [--exact-octave] [--json] TAKE.wav CELLFILE CELL KEY\n"
    "Grades a recorded take of cell number CELL (counted from 1) of CELLFILE, sung in KEY\n"
    "(C, C#, D, Eb, E, F, F#, G, Ab, A, Bb or B).\n"
    "  --exact-octave  the take must be sung at the octave written (default: any octave)\n"
    "  --json          print one JSON object instead of lines of text\n";

int Fail(const std::string& message)
{
    std::fprintf(stderr, "vocarine-listen: %s\n", message.c_str());
    return BadInput;
}

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "vocarine-listen: %s\n%s", message.c_str(), Usage);
    return BadInput;
}

std::string KeyList()
{
    std::string list;
    for (int item = KeyItemCount - 1; item >= 0; --item) {
        list += std::string(item == KeyItemCount - 1 ? "" : ", ") + KeyItemText(item);
    }
    return list;
}

std::string JsonString(const std::string& s)
{
    std::string out = "\"";
    for (const char ch : s) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (static_cast<unsigned char>(ch) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", ch);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

}  // namespace

int main(int argc, char** argv)
{
    bool exactOctave = false;
    bool json = false;
    std::vector<std::string> args;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && arg == "--exact-octave") {
            exactOctave = true;
        } else if (!optionsEnd && arg == "--json") {
            json = true;
        } else if (!optionsEnd && (arg == "--help" || arg == "-h")) {
            std::fputs(Usage, stdout);
            return 0;
        } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else {
            args.push_back(arg);
        }
    }
    if (args.size() != 4) {
        return UsageError(args.size() < 4 ? "too few arguments" : "too many arguments");
    }
    const std::string& takePath = args[0];
    const std::string& cellPath = args[1];
    const std::string& cellText = args[2];
    const std::string& keyText = args[3];

    // The cheap checks first, so a mistyped argument is named before the take is read.
    int item = -1;
    for (int i = 0; i < KeyItemCount; ++i) {
        if (keyText == KeyItemText(i)) {
            item = i;
        }
    }
    if (item < 0) {
        return Fail("unknown key \"" + keyText + "\"; the keys are " + KeyList());
    }
    const int32_t keyOffset = ItemToKey(item);

    CellFileResult book = ReadCellFile(cellPath);
    if (const CellFileError* error = std::get_if<CellFileError>(&book)) {
        return Fail(error->Text());
    }
    const ParsedBook& parsed = std::get<ParsedBook>(book);
    char* end = nullptr;
    const long cellNumber = std::strtol(cellText.c_str(), &end, 10);
    if (cellText.empty() || *end != '\0') {
        return Fail("cell \"" + cellText + "\" is not a number");
    }
    if (cellNumber < 1 || cellNumber > parsed.count) {
        return Fail("cell " + cellText + " is out of range: " + cellPath + " has " + std::to_string(parsed.count) +
                    (parsed.count == 1 ? " cell" : " cells"));
    }
    const Cell& cell = parsed.cells[static_cast<std::size_t>(cellNumber - 1)];

    std::variant<WavAudio, WavError> wav = ReadWavFile(takePath);
    if (const WavError* error = std::get_if<WavError>(&wav)) {
        return Fail(error->message);
    }
    const WavAudio& audio = std::get<WavAudio>(wav);

    float peak = 0.0f;
    const PitchTrack track = TrackSamples(audio.samples, audio.sampleRate, kDefaultPitchMethod, 512, &peak);
    NoteTableArray table;
    BuildNoteTable(table);
    const CellGrade grade = GradeCell(track, cell, table, keyOffset, !exactOctave);
    if (peak >= 0.999f) {
        std::fprintf(stderr, "vocarine-listen: %s: Too loud: move back from the microphone\n", takePath.c_str());
    }

    if (json) {
        std::string out = "{\"notes\": [";
        for (std::size_t i = 0; i < grade.notes.size(); ++i) {
            const NoteGrade& note = grade.notes[i];
            char cents[32] = "null";
            if (note.cents) {
                std::snprintf(cents, sizeof cents, "%.1f", std::round(*note.cents * 10.0) / 10.0 + 0.0);
            }
            out += std::string(i ? ", " : "") + "{\"syllable\": " + JsonString(note.syllable) +
                   ", \"verdict\": " + JsonString(VerdictName(note.verdict)) + ", \"cents\": " + cents + "}";
        }
        out += "], \"summary\": " + JsonString(grade.summary) + "}\n";
        std::fputs(out.c_str(), stdout);
    } else {
        for (const NoteGrade& note : grade.notes) {
            if (note.cents) {
                std::printf("%-4s %-8s %+7.1f cents\n", note.syllable.c_str(), VerdictName(note.verdict), *note.cents);
            } else {
                std::printf("%-4s %s\n", note.syllable.c_str(), VerdictName(note.verdict));
            }
        }
        std::printf("%s\n", grade.summary.c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
