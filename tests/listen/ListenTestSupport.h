// Shared helpers of the listening tests: a scratch folder, rendered takes of a
// cell, and running vocarine-listen.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../core/CoreTestSupport.h"
#include "Takes.h"
#include "core/Grading.h"
#include "core/NoteTable.h"

namespace vocarine::testing {

// A folder of its own under the system's temporary folder, removed afterwards.
using Scratch = ScratchFolder;

// One renderer for the whole test program: loading the soundfont takes a while.
inline takes::TakeRenderer& Renderer()
{
    static takes::TakeRenderer renderer;
    return renderer;
}

// A take of sung pitches: each note `seconds` long, 0.2 s apart, after 0.3 s of silence.
inline takes::TakeDescription SungTake(const std::vector<double>& midis, int program = takes::VoiceOohs,
                                       double seconds = 0.5)
{
    return takes::PitchesTake(midis, program, seconds);
}

// Output and exit status of a command line.
struct Run {
    std::string output;
    int status = -1;
};

inline Run RunCommand(const std::string& command)
{
    Run run;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        return run;
    }
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.output.append(buffer, got);
    }
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

inline std::string Quote(const std::string& s)
{
    std::string out = "'";
    for (char c : s) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

}  // namespace vocarine::testing
