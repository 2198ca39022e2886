// The built-in General MIDI synthesizer: FluidSynth playing through the
// desktop's audio system.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "midi/MidiDevice.h"

namespace vocarine {

struct SynthOptions {
    // Soundfonts to try in turn, until one loads. Empty: FluidSynth's default
    // soundfont setting, then the GM soundfonts the system ships.
    std::vector<std::string> soundfonts;
    // Audio drivers to try in turn; the first that opens plays.
    std::vector<std::string> audioDrivers = {"pulseaudio", "alsa", "jack"};
    // JACK server to play through; empty: the default server.
    std::string jackServer;
    // No audio driver: the owner pulls the sound with Render (tests, measurements).
    bool renderOffline = false;
    // Tests only: runs on the worker just before each soundfont is loaded.
    std::function<void()> beforeLoad;
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
    // Checks that a soundfont is there, then opens the audio output and loads
    // the soundfont on a worker thread, so that opening never holds the
    // caller. Notes put meanwhile are held back and played, in order and
    // spaced as they were put, as soon as the soundfont has loaded. When no
    // audio output opens or no soundfont loads, the device fails: Failed(),
    // LastError() and the failure handler say so.
    bool Open() override;
    void Reset() override;
    // Never waits for a load still running: that one is abandoned, and its
    // worker frees what it made when it is done.
    void Close() override;
    bool IsOpen() const override;
    bool Send(uint8_t status, uint8_t data1, uint8_t data2) override;
    std::string LastError() const override;
    bool Failed() const override;
    void SetFailureHandler(FailureHandler handler) override { onFailure_ = std::move(handler); }

    // Waits until the soundfont has loaded (true) or failed to, or the time is up.
    bool WaitUntilLoaded(std::chrono::milliseconds timeout);
    bool Loaded() const;
    std::string SoundfontPath() const;
    SynthAudioSetup AudioSetup() const;

    // Offline only: renders `frames` frames of the synthesizer's stereo output.
    bool Render(float* left, float* right, int frames);

    // The soundfonts tried when none are given, in order.
    static std::vector<std::string> DefaultSoundfonts();

    // The synthesizer's level: a cell at velocity 80 plays near -20 dBFS RMS.
    static constexpr double Gain = 3.5;

    struct Engine;

private:
    SynthOptions options_;
    std::unique_ptr<Engine> engine_;
    // Engines closed while still loading; the next engine's worker (or the
    // destructor) waits for them, never the caller of Close.
    std::vector<std::unique_ptr<Engine>> abandoned_;
    FailureHandler onFailure_;
    std::string lastError_;
};

}  // namespace vocarine
