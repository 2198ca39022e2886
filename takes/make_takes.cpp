// Writes the listening evaluation set to a folder: take-NNNN.wav and, beside
// each, take-NNNN.json with what the take is meant to be graded as.
//   make_takes [--seed N] [--count N] [--cells DIR] FOLDER
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Takes.h"

using namespace vocarine;

int main(int argc, char** argv)
{
    uint64_t seed = 1;
    int count = 288;
    std::string cells = VOCARINE_CELLS_SOURCE_DIR;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--seed" || arg == "--count" || arg == "--cells") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--seed") {
                seed = std::strtoull(value.c_str(), nullptr, 10);
            } else if (arg == "--count") {
                count = std::atoi(value.c_str());
            } else {
                cells = value;
            }
        } else if (!arg.empty() && arg[0] != '-' && folder.empty()) {
            folder = arg;
        } else {
            std::fprintf(stderr, "usage: make_takes [--seed N] [--count N] [--cells DIR] FOLDER\n");
            return 2;
        }
    }
    if (folder.empty() || count <= 0) {
        std::fprintf(stderr, "usage: make_takes [--seed N] [--count N] [--cells DIR] FOLDER\n");
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    takes::TakeRenderer renderer;
    if (!renderer.Ok()) {
        std::fprintf(stderr, "make_takes: %s\n", renderer.Error().c_str());
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        const std::optional<takes::EvalTake> take = takes::MakeEvalTake(seed, i, takes::SetConditions(i), cells);
        if (!take) {
            std::fprintf(stderr, "make_takes: no cell of %s fits take %d\n", cells.c_str(), i + 1);
            return 1;
        }
        char name[32];
        std::snprintf(name, sizeof name, "take-%04d", i + 1);
        const std::filesystem::path base = std::filesystem::path(folder) / name;
        if (!WriteWavFile(base.string() + ".wav", renderer.Render(take->take))) {
            std::fprintf(stderr, "make_takes: %s.wav cannot be written\n", base.string().c_str());
            return 1;
        }
        std::ofstream json(base.string() + ".json");
        json << takes::TruthJson(take->truth);
        if (!json) {
            std::fprintf(stderr, "make_takes: %s.json cannot be written\n", base.string().c_str());
            return 1;
        }
    }
    std::printf("%d takes written to %s (seed %llu)\n", count, folder.c_str(), static_cast<unsigned long long>(seed));
    return 0;
}
