// Shared helpers of the core tests: scripted draws, a recording view, scratch files.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Random.h"
#include "core/TrainerState.h"
#include "core/TrainerView.h"

namespace vocarine::testing {

// Replaces the random source with a fixed list of answers. Running out of answers
// throws, so a choice that keeps drawing fails the test instead of hanging it.
class ScriptedDraws {
public:
    explicit ScriptedDraws(const std::vector<int32_t>& answers)
        : answers_(answers.begin(), answers.end()), scope_([this](int32_t n) { return Next(n); })
    {
    }
    const std::vector<int32_t>& Ranges() const { return ranges_; }  // the n of every draw
    std::size_t Left() const { return answers_.size(); }

private:
    int32_t Next(int32_t n)
    {
        ranges_.push_back(n);
        if (answers_.empty()) {
            throw std::runtime_error("more draws than scripted");
        }
        const int32_t answer = answers_.front();
        answers_.pop_front();
        return answer;
    }

    std::deque<int32_t> answers_;
    std::vector<int32_t> ranges_;
    ScopedRandomSource scope_;
};

// Records what the trainer asks of the window, as words in one log that the
// AutoDrive panel fake writes into as well, so the order of both is visible.
class RecordingView : public TrainerView {
public:
    RecordingView(const TrainerState& state, std::vector<std::string>& log) : state_(state), log_(log) {}

    void HideCell() override { log_.push_back("hide"); }
    void ShowCell(int32_t cell) override
    {
        // The cell shown is always the current one; anything else is worth seeing in the log.
        log_.push_back(cell == state_.CurrentCell ? "show" : "show(" + std::to_string(cell) + ")");
        shown_.push_back(cell);
    }
    void ShowCellCounter() override { log_.push_back("counter"); counters_.push_back(CellCounterText(state_)); }
    void PlayCurrentCell() override { log_.push_back("play"); played_.push_back(state_.CurrentCell); }
    void RepaintNow() override { log_.push_back("repaint"); }

    const std::vector<std::string>& Counters() const { return counters_; }
    const std::vector<int32_t>& Shown() const { return shown_; }
    const std::vector<int32_t>& Played() const { return played_; }

private:
    const TrainerState& state_;
    std::vector<std::string>& log_;
    std::vector<std::string> counters_;
    std::vector<int32_t> shown_;
    std::vector<int32_t> played_;
};

// A state with a loaded book of `count` cells of one note each (cell i holds degree i mod 21).
inline TrainerState StateWithBook(int32_t count)
{
    TrainerState state;
    for (int32_t i = 0; i < count; ++i) {
        state.Cells[i].count = 1;
        state.Cells[i].notes[0] = {i % 21, 1};
    }
    state.CellCount = count;
    return state;
}

// A folder of its own under the system's temporary folder, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "vocarine-core-";
        name += info != nullptr ? std::string(info->test_suite_name()) + "-" + info->name() : "test";
        for (char& c : name) {
            if (c == '/') {
                c = '_';
            }
        }
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string Write(const std::string& name, const std::string& bytes) const
    {
        const std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        out << bytes;
        return file.string();
    }
    std::string PathOf(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace vocarine::testing
