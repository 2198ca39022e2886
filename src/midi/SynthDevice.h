// The built-in General MIDI synthesizer: FluidSynth playing through the
// desktop's audio system.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "midi/MidiDevice.h"

namespace vocarine {

struct SynthOptions {
    // Soundfonts to try, first one that exists wins. Empty: FluidSynth's
    // default soundfont setting, then the GM soundfonts the system ships.
    std::vector<std::string> soundfonts;
    // Audio drivers to try in turn; the first that opens plays.
    std::vector<std::string> audioDrivers = {"pulseaudio", "alsa", "jack"};
    // JACK server to play through; empty: the default server.
    std::string jackServer;
    // No audio driver: the owner pulls the sound with Render (tests, measurements).
    bool renderOffline = false;
};

// How the synthesizer's audio buffer is set up, to derive its latency.
struct SynthAudioSetup {
    std::string driver;     // the driver that opened, empty when closed or offline
    double sampleRate = 0;  // frames per second
    int periodSize = 0;     // frames per period
    int periods = 0;        // periods in the device's buffer (ALSA)
};

class SynthDevice : public MidiDevice {
public:
    static constexpr const char* DeviceName = "Built-in synthesizer";

    explicit SynthDevice(SynthOptions options = {});
    ~SynthDevice() override;
    SynthDevice(const SynthDevice&) = delete;
    SynthDevice& operator=(const SynthDevice&) = delete;

    std::string Name() const override { return DeviceName; }
    // Opens the audio output at once and loads the soundfont on a worker
    // thread: notes put before it has loaded are not heard.
    bool Open() override;
    void Reset() override;
    // Stops a load still running, closes the audio output, frees the synthesizer.
    void Close() override;
    bool IsOpen() const override;
    bool Send(uint8_t status, uint8_t data1, uint8_t data2) override;
    std::string LastError() const override { return lastError_; }

    // Waits until the soundfont has loaded (true) or failed to, or the time is up.
    bool WaitUntilLoaded(std::chrono::milliseconds timeout);
    bool Loaded() const;
    std::string SoundfontPath() const;
    SynthAudioSetup AudioSetup() const;

    // Offline only: renders `frames` frames of the synthesizer's stereo output.
    bool Render(float* left, float* right, int frames);

    // The soundfonts tried when none are given, in order.
    static std::vector<std::string> DefaultSoundfonts();

    struct Engine;

private:
    SynthOptions options_;
    std::unique_ptr<Engine> engine_;
    std::string lastError_;
};

}  // namespace vocarine
