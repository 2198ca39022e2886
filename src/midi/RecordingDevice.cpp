#include "midi/RecordingDevice.h"

#include <utility>

namespace vocarine {

RecordingDevice::RecordingDevice(std::string name, bool canOpen, std::size_t capacity)
    : name_(std::move(name)), canOpen_(canOpen)
{
    messages_.reserve(capacity);
}

bool RecordingDevice::Open()
{
    if (!canOpen_)
        return false;
    if (!open_)
        ++openCount_;
    open_ = true;
    return true;
}

void RecordingDevice::Reset()
{
    if (open_)
        ++resetCount_;
}

void RecordingDevice::Close()
{
    if (open_)
        ++closeCount_;
    open_ = false;
}

bool RecordingDevice::Send(uint8_t status, uint8_t data1, uint8_t data2)
{
    const auto at = std::chrono::steady_clock::now();
    // Full: the message is dropped rather than the vector grown, so that a
    // put never allocates.
    if (!open_ || messages_.size() == messages_.capacity())
        return false;
    messages_.push_back({status, data1, data2, at});
    return true;
}

std::string RecordingDevice::LastError() const
{
    return canOpen_ ? std::string() : "the device refuses to open";
}

}  // namespace vocarine
