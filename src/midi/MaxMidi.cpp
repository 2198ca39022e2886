#include "midi/MaxMidi.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <system_error>

#include "midi/Backends.h"
#include "midi/PortDevice.h"
#include "midi/SynthDevice.h"

namespace vocarine {

namespace {

struct Providers {
    TMaxMidi::DeviceProvider first;
    TMaxMidi::DeviceProvider later;
};

Providers& Provider()
{
    static Providers providers;
    return providers;
}

// The ALSA sequencer's ports, then a running JACK server's. A system that
// can't be reached adds no device.
MidiDeviceList SystemPorts()
{
    SilenceSoundLibraries();
    MidiDeviceList devices;
    for (const PortSystem system : {PortSystem::AlsaSequencer, PortSystem::Jack}) {
        const auto ports = ListPorts(system);
        if (!ports)
            continue;
        for (const std::string& port : *ports)
            devices.push_back(std::make_unique<PortDevice>(system, port));
    }
    return devices;
}

// Cuts `text` to at most `limit` bytes without splitting a UTF-8 character.
std::size_t CutLength(const std::string& text, std::size_t limit)
{
    if (text.size() <= limit)
        return text.size();
    std::size_t length = limit;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return length;
}

bool IsChannelMessage(const MidiEvent& event)
{
    const uint8_t kind = event.status & 0xF0;
    if (event.status < 0x80 || kind == 0xF0)
        return false;
    const bool oneDataByte = kind == 0xC0 || kind == 0xD0;
    return event.data1 < 0x80 && (oneDataByte || event.data2 < 0x80);
}

}  // namespace

struct TMaxMidi::Shared {
    std::mutex mutex;
    bool done = false;
    std::function<void()> whenListed;
};

TMaxMidi::TMaxMidi() : shared_(std::make_shared<Shared>())
{
    const Providers providers = Provider();
    if (providers.first) {
        devices_ = providers.first();
        StartListing(providers.later);
        return;
    }
    SilenceSoundLibraries();
    // Device 0, the built-in synthesizer, is there at once (FluidSynth itself
    // is loaded when it opens, on its worker); the system's ports follow
    // from the lister.
    devices_.push_back(std::make_unique<SynthDevice>());
    StartListing([] {
        YieldToTheWindow();
        return SystemPorts();
    });
}

TMaxMidi::TMaxMidi(MidiDeviceList devices) : devices_(std::move(devices)), shared_(std::make_shared<Shared>())
{
    StartListing({});
}

TMaxMidi::~TMaxMidi()
{
    if (lister_.joinable()) {
        ReleaseStartupWork();
        lister_.join();
    }
}

void TMaxMidi::StartListing(DeviceProvider later)
{
    const auto finish = [shared = shared_] {
        std::function<void()> handler;
        {
            std::lock_guard lock(shared->mutex);
            shared->done = true;
            handler = std::move(shared->whenListed);
        }
        if (handler)
            handler();
    };
    if (!later) {
        finish();
        return;
    }
    try {
        lister_ = std::thread([this, later = std::move(later), finish] {
            WaitForStartupWork();
            try {
                listed_ = later();
            } catch (...) {
                listed_.clear();  // a system that can't be asked adds no device
            }
            finish();
        });
    } catch (const std::system_error&) {
        listed_ = later();
        finish();
    }
}

void TMaxMidi::WaitForList() const
{
    if (!lister_.joinable())
        return;
    ReleaseStartupWork();  // the list is wanted now
    lister_.join();
    auto& listed = const_cast<MidiDeviceList&>(listed_);
    for (auto& device : listed)
        devices_.push_back(std::move(device));
    listed.clear();
}

bool TMaxMidi::Listed() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->done;
}

void TMaxMidi::WhenListed(std::function<void()> handler)
{
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->done) {
            shared_->whenListed = std::move(handler);
            return;
        }
    }
    if (handler)
        handler();
}

void TMaxMidi::SetDeviceProvider(DeviceProvider first, DeviceProvider later)
{
    Provider() = {std::move(first), std::move(later)};
}

int TMaxMidi::GetMidiOutDescription(int index, char* buffer, std::size_t bufferSize) const
{
    if (buffer == nullptr || bufferSize == 0)
        throw EMaxMidiException("GetMidiOutDescription needs a buffer");
    buffer[0] = '\0';
    const MidiDevice* device = Device(index);
    if (device == nullptr)
        return 0;
    const std::string name = device->Name();
    const std::size_t length = CutLength(name, bufferSize - 1);
    std::memcpy(buffer, name.data(), length);
    buffer[length] = '\0';
    return 1;
}

int TMaxMidi::DeviceCount() const
{
    WaitForList();
    return static_cast<int>(devices_.size());
}

MidiDevice* TMaxMidi::Device(int index) const
{
    // The devices known at once need no wait: start-up opens device 0 so.
    if (index < 0)
        return nullptr;
    if (static_cast<std::size_t>(index) >= devices_.size())
        WaitForList();
    if (static_cast<std::size_t>(index) >= devices_.size())
        return nullptr;
    return devices_[static_cast<std::size_t>(index)].get();
}

TMaxMidiOut::TMaxMidiOut(TMaxMidi& midi) : midi_(midi) {}

TMaxMidiOut::~TMaxMidiOut()
{
    if (device_ != nullptr) {
        ResetMidiOut();
        CloseMidiOut();
    }
}

int TMaxMidiOut::OpenMidiOut(uint16_t device, uint32_t /*flags*/)
{
    // Opening over an open port moves it: the notes on the old device end first.
    if (device_ != nullptr) {
        ResetMidiOut();
        CloseMidiOut();
    }
    MidiDevice* target = midi_.Device(device);
    if (target == nullptr) {
        lastOpenError_ = "MIDI output device " + std::to_string(device) + " does not exist";
        return OpenErrorNoSuchDevice;
    }
    target->SetFailureHandler(onFailure_);
    if (!target->Open()) {
        const std::string why = target->LastError();
        lastOpenError_ = target->Name() + ": " + (why.empty() ? std::string("it could not be opened") : why);
        return OpenErrorDeviceFailed;
    }
    device_ = target;
    deviceIndex_ = device;
    lastOpenError_.clear();
    return 64 + device;
}

void TMaxMidiOut::ResetMidiOut()
{
    if (device_ != nullptr)
        device_->Reset();
}

void TMaxMidiOut::CloseMidiOut()
{
    if (device_ == nullptr)
        return;
    device_->Close();
    device_ = nullptr;
    deviceIndex_ = -1;
}

bool TMaxMidiOut::IsOpen() const
{
    return device_ != nullptr && !device_->Failed();
}

int TMaxMidiOut::OpenDevice() const
{
    return deviceIndex_;
}

int TMaxMidiOut::PutMidiOut(LPMIDIEVENT event)
{
    if (event == nullptr)
        throw EMaxMidiException("PutMidiOut needs an event");
    if (!IsOpen())
        return PutPortClosed;
    // We keep no queue: an event is either sent at once or not at all.
    if (event->time != SendNow)
        return PutNotSendNow;
    if (!IsChannelMessage(*event))
        return PutNotAMessage;
    return device_->Send(event->status, event->data1, event->data2) ? PutSent : PutDeviceRefused;
}

std::string TMaxMidiOut::LastOpenError() const
{
    if (device_ != nullptr && device_->Failed()) {
        const std::string why = device_->LastError();
        return device_->Name() + ": " + (why.empty() ? std::string("it could not be opened") : why);
    }
    return lastOpenError_;
}

}  // namespace vocarine
