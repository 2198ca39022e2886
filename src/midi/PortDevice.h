// A MIDI output port of the system (the ALSA sequencer's or a JACK server's),
// reached through RtMidi.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "midi/MidiDevice.h"

class RtMidiOut;

namespace vocarine {

class JackCycleCounter;

enum class PortSystem { AlsaSequencer, Jack };

// Names as long as the device list can show: GetMidiOutDescription's 32-byte
// buffer holds 31 characters.
constexpr std::size_t DeviceNameLimit = 31;

// The ports that take MIDI from us, by the names the system reports, in the
// system's order; nullopt when the system cannot be reached at all. Prints
// nothing and starts no server.
std::optional<std::vector<std::string>> ListPorts(PortSystem system);

// The name a person recognises, at most DeviceNameLimit characters, made from
// the name the system reports ("FLUID Synth (1234):Synth input port (1234:0) 128:0"
// becomes "FLUID Synth (1234):Synth input").
std::string DisplayPortName(PortSystem system, const std::string& portName);

class PortDevice : public MidiDevice {
public:
    PortDevice(PortSystem system, std::string portName);
    ~PortDevice() override;

    std::string Name() const override { return displayName_; }
    bool Open() override;
    // Sends a note-off for every note that we started and that still sounds.
    void Reset() override;
    void Close() override;
    bool IsOpen() const override;
    bool Send(uint8_t status, uint8_t data1, uint8_t data2) override;
    std::string LastError() const override { return lastError_; }

    PortSystem System() const { return system_; }
    const std::string& PortName() const { return portName_; }

private:
    bool Deliver(const unsigned char* bytes, std::size_t size);

    PortSystem system_;
    std::string portName_;     // as the system reports it: found again by this on every open
    std::string displayName_;
    std::unique_ptr<RtMidiOut> out_;
    std::unique_ptr<JackCycleCounter> cycles_;     // JACK only: see Open and Close
    std::array<std::bitset<128>, 16> sounding_{};  // per channel, keys whose note-on we sent
    std::array<char, 160> callbackError_{};        // written by RtMidi's error callback, no allocation
    std::string lastError_;
};

}  // namespace vocarine
