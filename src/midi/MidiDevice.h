// One MIDI output device behind the layer: the built-in synthesizer, a port
// of the system's MIDI (ALSA sequencer, JACK), or a recorder in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vocarine {

class MidiDevice {
public:
    virtual ~MidiDevice() = default;

    // The name shown in the device list.
    virtual std::string Name() const = 0;

    // Opens the device; on failure returns false and LastError() says why.
    virtual bool Open() = 0;
    // Turns off every note sounding on the device.
    virtual void Reset() = 0;
    // Releases the device.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Sends one short message at once. Must not block for long nor allocate.
    virtual bool Send(uint8_t status, uint8_t data1, uint8_t data2) = 0;

    // Why the last Open failed, in plain words; empty when unknown.
    virtual std::string LastError() const = 0;

    // A device that finishes opening on a worker (the built-in synthesizer:
    // its audio output and soundfont) can fail after Open said yes. Failed()
    // then answers true and LastError() says why; the handler set before Open
    // is called once, on the worker's thread.
    using FailureHandler = std::function<void()>;
    virtual bool Failed() const { return false; }
    virtual void SetFailureHandler(FailureHandler /*handler*/) {}
};

}  // namespace vocarine
