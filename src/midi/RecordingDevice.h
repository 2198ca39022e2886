// A device that keeps every message it is sent, with the steady-clock time
// at which it arrived. Used by tests and benchmarks.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "midi/MidiDevice.h"

namespace vocarine {

struct RecordedMessage {
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
    std::chrono::steady_clock::time_point at;
};

class RecordingDevice : public MidiDevice {
public:
    explicit RecordingDevice(std::string name = "Recorder", bool canOpen = true, std::size_t capacity = 4096);

    std::string Name() const override { return name_; }
    bool Open() override;
    void Reset() override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    bool Send(uint8_t status, uint8_t data1, uint8_t data2) override;
    std::string LastError() const override;

    const std::vector<RecordedMessage>& Messages() const { return messages_; }
    void Clear() { messages_.clear(); }
    int OpenCount() const { return openCount_; }
    int ResetCount() const { return resetCount_; }
    int CloseCount() const { return closeCount_; }
    void SetCanOpen(bool canOpen) { canOpen_ = canOpen; }

private:
    std::string name_;
    bool canOpen_;
    bool open_ = false;
    int openCount_ = 0;
    int resetCount_ = 0;
    int closeCount_ = 0;
    std::vector<RecordedMessage> messages_;  // reserved up front: Send never allocates
};

}  // namespace vocarine
