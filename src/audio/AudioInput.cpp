#include "audio/AudioInput.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/SystemInputs.h"

namespace vocarine {

namespace {

AudioInputs::DeviceProvider& Provider()
{
    static AudioInputs::DeviceProvider provider;
    return provider;
}

}  // namespace

AudioInputs::AudioInputs() : devices_(FindDevices()) {}

AudioInputs::AudioInputs(AudioDeviceList devices) : devices_(std::move(devices)) {}

AudioInputs::~AudioInputs() = default;

AudioDeviceList AudioInputs::FindDevices()
{
    // Copied first: a test may put another provider in place meanwhile.
    const DeviceProvider provider = Provider();
    return provider ? provider() : SystemInputDevices();
}

void AudioInputs::SetDeviceProvider(DeviceProvider provider)
{
    Provider() = std::move(provider);
}

int AudioInputs::DeviceCount() const
{
    return static_cast<int>(devices_.size());
}

AudioDevice* AudioInputs::Device(int index) const
{
    if (index < 0 || index >= DeviceCount())
        return nullptr;
    return devices_[static_cast<std::size_t>(index)].get();
}

int AudioInputs::DefaultDevice() const
{
    for (int i = 0; i < DeviceCount(); ++i)
        if (devices_[static_cast<std::size_t>(i)]->IsDefaultInput())
            return i;
    return -1;
}

AudioInputPort::AudioInputPort(AudioInputs& inputs) : inputs_(inputs) {}

AudioInputPort::~AudioInputPort()
{
    Close();
}

bool AudioInputPort::Open(int index)
{
    Close();
    AudioDevice* target = inputs_.Device(index);
    if (target == nullptr) {
        lastError_ = "audio input " + std::to_string(index) + " does not exist";
        return false;
    }
    // A new ring for every device: nothing of the last one is read as this one's.
    ring_ = std::make_unique<SampleRing>(RingCapacity);
    if (!target->Open(*ring_)) {
        const std::string why = target->LastError();
        lastError_ = target->Name() + ": " + (why.empty() ? std::string("it could not be opened") : why);
        ring_.reset();
        return false;
    }
    device_ = target;
    deviceIndex_ = index;
    lastError_.clear();
    return true;
}

void AudioInputPort::Close()
{
    if (device_ == nullptr)
        return;
    // A device that failed is told why before it closes: the reason stays.
    if (device_->Failed())
        lastError_ = LastError();
    device_->Close();
    device_ = nullptr;
    deviceIndex_ = -1;
}

bool AudioInputPort::IsOpen() const
{
    return device_ != nullptr;
}

int AudioInputPort::OpenDevice() const
{
    return deviceIndex_;
}

uint32_t AudioInputPort::SampleRate() const
{
    return device_ != nullptr ? device_->SampleRate() : 0;
}

std::size_t AudioInputPort::Read(float* out, std::size_t max)
{
    return device_ != nullptr && ring_ ? ring_->Pop(out, max) : 0;
}

void AudioInputPort::Discard()
{
    if (ring_)
        ring_->DiscardAll();
}

float AudioInputPort::TakePeak()
{
    return device_ != nullptr && ring_ ? ring_->TakePeak() : 0.0f;
}

bool AudioInputPort::Failed() const
{
    return device_ != nullptr && device_->Failed();
}

std::string AudioInputPort::LastError() const
{
    if (Failed()) {
        const std::string why = device_->LastError();
        return device_->Name() + ": " + (why.empty() ? std::string("it stopped delivering sound") : why);
    }
    return lastError_;
}

}  // namespace vocarine
