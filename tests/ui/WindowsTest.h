// A fixture that starts the program's four windows in a scratch folder, with
// recording devices in place of the system's MIDI outputs.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioInput.h"
#include "core/Random.h"
#include "midi/RecordingDevice.h"

// Notes what happens to the device, and when it goes.
class LoggingDevice : public vocarine::RecordingDevice {
public:
    explicit LoggingDevice(std::vector<std::string>& log) : log_(log) {}
    ~LoggingDevice() override { log_.push_back("gone"); }
    void Reset() override
    {
        log_.push_back("reset");
        RecordingDevice::Reset();
    }
    void Close() override
    {
        log_.push_back("close");
        RecordingDevice::Close();
    }

private:
    std::vector<std::string>& log_;
};

// Runs the event loop until `done` holds or `timeoutMs` has passed.
bool WaitFor(const std::function<bool()>& done, int timeoutMs);

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes `name` in the scratch folder (the working directory of the program).
    QString WriteFile(const QString& name, const std::string& text);

    // Creates the windows as the program does. `startupCells`, when given, is
    // written to majortonic.txt first; `openable[i]` says whether device i opens.
    // Returns once the audio inputs are found and the default one opened.
    void StartProgram(std::optional<std::string> startupCells, std::vector<bool> openable = {true});

    // Only puts the recording devices in place; StartProgram does this first.
    void UseDevices(std::vector<bool> openable);

    // Puts these inputs in place of the system's audio inputs for the windows
    // created next. Unless a test says otherwise, the program has one input
    // that delivers silence, so nothing on this machine is ever opened.
    void UseInputs(vocarine::AudioInputs::DeviceProvider provider);

    vocarine::RecordingDevice& Device(int index) { return *devices_.at(index); }

    QTemporaryDir dir_;
    QString previousDir_;
    std::vector<vocarine::RecordingDevice*> devices_;  // owned by the MIDI layer

    // No modal box ever opens in a test: the texts of the error boxes and of
    // the warnings are kept here. File > Open answers Cancel unless a test
    // answers the dialog itself, and the start-up file installed on this
    // machine is never looked at.
    std::vector<QString> errorBoxes_;
    std::vector<QString> warnings_;
};

// Answers PickRandom from a list for as long as it lives; the test fails when
// more draws are asked for than scripted, or when a drawn value is out of range.
// `range`, when given, is the n every draw must be asked with.
class ScriptedDraws {
public:
    explicit ScriptedDraws(std::deque<int32_t> draws, std::optional<int32_t> range = {})
        : draws_(std::move(draws)),
          source_([this, range](int32_t n) {
              if (range) {
                  EXPECT_EQ(n, *range);
              }
              if (draws_.empty()) {
                  ADD_FAILURE() << "more draws than scripted";
                  return 0;
              }
              const int32_t next = draws_.front();
              draws_.pop_front();
              EXPECT_LT(next, n);
              return next;
          })
    {
    }
    std::size_t Left() const { return draws_.size(); }

private:
    std::deque<int32_t> draws_;
    vocarine::ScopedRandomSource source_;
};
