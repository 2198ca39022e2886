// The program's MIDI layer: TMaxMidi knows the output devices, TMaxMidiOut is
// the one output port that everything is played through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "midi/MidiDevice.h"
#include "midi/MidiEvent.h"

namespace vocarine {

class EMaxMidiException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using MidiDeviceList = std::vector<std::unique_ptr<MidiDevice>>;

class TMaxMidi {
public:
    // Lists the devices: device 0 the built-in synthesizer, then every MIDI
    // output port of the system. The ports are listed on a worker thread
    // (asking a JACK server takes a while), so the synthesizer can be opened
    // at once; whatever needs the ports waits for the list. A device list
    // from a test's provider may throw EMaxMidiException.
    TMaxMidi();
    explicit TMaxMidi(MidiDeviceList devices);
    ~TMaxMidi();
    TMaxMidi(const TMaxMidi&) = delete;
    TMaxMidi& operator=(const TMaxMidi&) = delete;

    // Copies the name of device `index` into `buffer` (zero-terminated, cut to
    // fit) and returns non-zero; returns 0 past the last device.
    int GetMidiOutDescription(int index, char* buffer, std::size_t bufferSize) const;

    int DeviceCount() const;
    MidiDevice* Device(int index) const;  // nullptr when out of range

    // Whether every device is listed, without waiting.
    bool Listed() const;
    // Called once when every device is listed: on the lister's thread, or at
    // once on the caller's when the list is complete already.
    void WhenListed(std::function<void()> handler);

    // Tests (and only tests) replace where the device list comes from: `first`
    // is called at once, `later` (when given) on the worker, and its devices
    // follow. Empty functions restore the system's devices.
    using DeviceProvider = std::function<MidiDeviceList()>;
    static void SetDeviceProvider(DeviceProvider first, DeviceProvider later = {});

private:
    void StartListing(DeviceProvider later);
    void WaitForList() const;

    // The devices known at once, then (after WaitForList) the listed ones.
    // The list is used from one thread; only the worker's own fields below
    // are shared with it.
    mutable MidiDeviceList devices_;
    mutable std::thread lister_;
    MidiDeviceList listed_;  // the worker's result, taken over by WaitForList
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

class TMaxMidiOut {
public:
    explicit TMaxMidiOut(TMaxMidi& midi);
    ~TMaxMidiOut();  // resets and closes an open port
    TMaxMidiOut(const TMaxMidiOut&) = delete;
    TMaxMidiOut& operator=(const TMaxMidiOut&) = delete;

    // Opens device `device`; `flags` is the fixed value 78624 the program passes.
    // Returns a value above 32 on success, 32 or less on failure (the port stays closed).
    int OpenMidiOut(uint16_t device, uint32_t flags);
    void ResetMidiOut();
    void CloseMidiOut();
    // False also when the device failed after it opened (see MidiDevice::Failed).
    bool IsOpen() const;
    int OpenDevice() const;  // index of the open device, -1 when closed

    // Sends the event at once when its time stamp is 0xFFFFFFFF. Does nothing
    // while the port is closed. Returns 0 on success.
    int PutMidiOut(LPMIDIEVENT event);

    // Name of the device of the last failed open and why it failed, in words
    // for the user ("Built-in synthesizer: no audio output could be opened").
    // Empty after a successful open, until the device fails.
    std::string LastOpenError() const;

    // Called, on any thread, when the open device fails after it opened; the
    // owner then looks at IsOpen and LastOpenError on its own thread.
    void SetFailureHandler(MidiDevice::FailureHandler handler) { onFailure_ = std::move(handler); }

private:
    TMaxMidi& midi_;
    MidiDevice* device_ = nullptr;
    int deviceIndex_ = -1;
    std::string lastOpenError_;
    MidiDevice::FailureHandler onFailure_;
};

constexpr uint32_t OpenFlags = 78624;  // 0x13320, passed on every open

// OpenMidiOut's results: above 32 the port is open, 32 or less it is not.
constexpr int OpenErrorNoSuchDevice = 2;
constexpr int OpenErrorDeviceFailed = 4;

// PutMidiOut's results.
constexpr int PutSent = 0;
constexpr int PutPortClosed = 1;       // nothing sent: no device is open
constexpr int PutNotSendNow = 2;       // nothing sent: only time stamp 0xFFFFFFFF is sent, at once
constexpr int PutNotAMessage = 3;      // nothing sent: not a channel message with valid data bytes
constexpr int PutDeviceRefused = 4;    // the device did not take it

}  // namespace vocarine
