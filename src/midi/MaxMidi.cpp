#include "midi/MaxMidi.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cstring>

#include "midi/Backends.h"
#include "midi/PortDevice.h"
#include "midi/SynthDevice.h"

namespace vocarine {

namespace {

TMaxMidi::DeviceProvider& Provider()
{
    static TMaxMidi::DeviceProvider provider;
    return provider;
}

bool FluidSynthStarts()
{
    fluid_settings_t* settings = new_fluid_settings();
    if (settings == nullptr)
        return false;
    delete_fluid_settings(settings);
    return true;
}

// Device 0 the built-in synthesizer, then the ALSA sequencer's ports, then a
// running JACK server's. A system that can't be reached adds no device.
MidiDeviceList SystemDevices()
{
    SilenceSoundLibraries();
    MidiDeviceList devices;
    bool anyBackend = false;
    if (FluidSynthStarts()) {
        anyBackend = true;
        devices.push_back(std::make_unique<SynthDevice>());
    }
    for (const PortSystem system : {PortSystem::AlsaSequencer, PortSystem::Jack}) {
        const auto ports = ListPorts(system);
        if (!ports)
            continue;
        anyBackend = true;
        for (const std::string& port : *ports)
            devices.push_back(std::make_unique<PortDevice>(system, port));
    }
    if (!anyBackend)
        throw EMaxMidiException(
            "No MIDI output can be used: FluidSynth cannot start, and neither the ALSA sequencer nor a JACK server answers");
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

TMaxMidi::TMaxMidi() : devices_(Provider() ? Provider()() : SystemDevices()) {}

TMaxMidi::TMaxMidi(MidiDeviceList devices) : devices_(std::move(devices)) {}

TMaxMidi::~TMaxMidi() = default;

void TMaxMidi::SetDeviceProvider(DeviceProvider provider)
{
    Provider() = std::move(provider);
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
    return static_cast<int>(devices_.size());
}

MidiDevice* TMaxMidi::Device(int index) const
{
    if (index < 0 || index >= DeviceCount())
        return nullptr;
    return devices_[static_cast<std::size_t>(index)].get();
}

TMaxMidiOut::TMaxMidiOut(TMaxMidi& midi) : midi_(midi) {}

TMaxMidiOut::~TMaxMidiOut()
{
    if (IsOpen()) {
        ResetMidiOut();
        CloseMidiOut();
    }
}

int TMaxMidiOut::OpenMidiOut(uint16_t device, uint32_t /*flags*/)
{
    // Opening over an open port moves it: the notes on the old device end first.
    if (IsOpen()) {
        ResetMidiOut();
        CloseMidiOut();
    }
    MidiDevice* target = midi_.Device(device);
    if (target == nullptr) {
        lastOpenError_ = "MIDI output device " + std::to_string(device) + " does not exist";
        return OpenErrorNoSuchDevice;
    }
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
    return device_ != nullptr;
}

int TMaxMidiOut::OpenDevice() const
{
    return deviceIndex_;
}

int TMaxMidiOut::PutMidiOut(LPMIDIEVENT event)
{
    if (event == nullptr)
        throw EMaxMidiException("PutMidiOut needs an event");
    if (device_ == nullptr)
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
    return lastOpenError_;
}

}  // namespace vocarine
