// The program's audio input: AudioInputs knows the input devices,
// AudioInputPort is the one input that listening reads from. Shaped like the
// MIDI layer: a device behind a small interface, opened by index.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/SampleRing.h"

namespace vocarine {

// One audio input of the system (or a test device).
class AudioDevice {
public:
    virtual ~AudioDevice() = default;
    virtual std::string Name() const = 0;
    // Starts delivering mono samples into `ring` from the device's own
    // thread. False when it cannot; LastError() then says why, in words.
    virtual bool Open(SampleRing& ring) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual uint32_t SampleRate() const = 0;
    // Set when an open device stopped delivering by itself (unplugged,
    // server gone); stays set until the next Open.
    virtual bool Failed() const = 0;
    virtual std::string LastError() const = 0;
    // The input the desktop records from when nothing else is chosen; the
    // program opens it at start-up.
    virtual bool IsDefaultInput() const { return false; }
};

using AudioDeviceList = std::vector<std::unique_ptr<AudioDevice>>;

class AudioInputs {
public:
    // Lists the system's inputs: the desktop's default input first (PipeWire
    // or PulseAudio), then the ALSA capture devices, then the JACK clients
    // that have audio output ports. Never throws; an empty list is fine.
    AudioInputs();
    explicit AudioInputs(AudioDeviceList devices);
    ~AudioInputs();
    AudioInputs(const AudioInputs&) = delete;
    AudioInputs& operator=(const AudioInputs&) = delete;

    int DeviceCount() const;
    AudioDevice* Device(int index) const;  // nullptr when out of range
    // Index of the first device that is a default input, -1 when none is.
    int DefaultDevice() const;

    // The devices AudioInputs() would list: the test provider's when one is
    // set, else the system's. Safe to call on any thread; may take a while
    // when sound servers answer slowly.
    static AudioDeviceList FindDevices();

    // Tests (and only tests) replace where the device list comes from; an
    // empty function restores the system's devices.
    using DeviceProvider = std::function<AudioDeviceList()>;
    static void SetDeviceProvider(DeviceProvider provider);

private:
    AudioDeviceList devices_;
};

class AudioInputPort {
public:
    explicit AudioInputPort(AudioInputs& inputs);
    ~AudioInputPort();  // closes an open device
    AudioInputPort(const AudioInputPort&) = delete;
    AudioInputPort& operator=(const AudioInputPort&) = delete;

    // Opens device `index` of the list (closing the one open before).
    bool Open(int index);
    void Close();
    bool IsOpen() const;
    int OpenDevice() const;  // index of the open device, -1 when closed
    uint32_t SampleRate() const;

    // Takes up to `max` samples that arrived since the last read.
    std::size_t Read(float* out, std::size_t max);
    // Throws away whatever has arrived and not been read.
    void Discard();
    // The largest absolute sample that arrived since the last call (0 when
    // closed), for a level meter. Sound arrives here also when nobody reads.
    float TakePeak();

    // The open device stopped delivering by itself.
    bool Failed() const;
    // Name of the device of the last failed open or failure and why, in words
    // for the user. Empty after a successful open.
    std::string LastError() const;

    // How many samples the port holds unread before it drops new ones.
    static constexpr std::size_t RingCapacity = std::size_t{1} << 17;  // 2.7 s at 48 kHz

private:
    AudioInputs& inputs_;
    AudioDevice* device_ = nullptr;
    int deviceIndex_ = -1;
    std::unique_ptr<SampleRing> ring_;
    std::string lastError_;
};

}  // namespace vocarine
