#include "midi/SynthDevice.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "midi/Backends.h"
#include "midi/FluidSynthLibrary.h"

namespace vocarine {

namespace {

// 48 kHz is what desktop sound servers run at, so nothing resamples on the way.
constexpr double SampleRate = 48000.0;
// 256 frames (5.3 ms) per period, four periods in an ALSA device's buffer.
constexpr int PeriodSize = 256;
constexpr int Periods = 4;
constexpr const char* JackClientName = "vocarine-synth";

enum LoadState : int { Loading, LoadDone, LoadFailed };

constexpr const char* NoSoundfontInstalled =
    "no General MIDI soundfont is installed; install the package fluid-soundfont-gm";

bool Readable(const std::string& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), R_OK) == 0;
}

// A SoundFont 2 (or 3) file is a RIFF file of form "sfbk".
bool LooksLikeSoundfont(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    char header[12] = {};
    const bool whole = std::fread(header, 1, sizeof header, file) == sizeof header;
    std::fclose(file);
    return whole && std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "sfbk", 4) == 0;
}

void ApplySettings(const FluidSynthApi* F, fluid_settings_t* settings, const SynthOptions& options)
{
    F->fluid_settings_setnum(settings, "synth.sample-rate", SampleRate);
    F->fluid_settings_setnum(settings, "synth.gain", SynthDevice::Gain);
    F->fluid_settings_setint(settings, "audio.period-size", PeriodSize);
    F->fluid_settings_setint(settings, "audio.periods", Periods);
    // Only the presets the channels use are read: loading takes a fraction of
    // the time and memory of the whole bank.
    F->fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    // Left on, PulseAudio lets the stream grow to about 100 ms of latency.
    F->fluid_settings_setint(settings, "audio.pulseaudio.adjust-latency", 0);
    // A non-empty role makes the driver set an environment variable of the
    // whole process while other threads may read the environment.
    F->fluid_settings_setstr(settings, "audio.pulseaudio.media-role", "");
    // Played to the speakers, not into an unconnected port.
    F->fluid_settings_setint(settings, "audio.jack.autoconnect", 1);
    F->fluid_settings_setstr(settings, "audio.jack.id", JackClientName);
    F->fluid_settings_setstr(settings, "audio.jack.server", options.jackServer.c_str());
}

// Sends one channel message to the synthesizer.
bool Deliver(const FluidSynthApi* F, fluid_synth_t* synth, uint8_t status, uint8_t data1, uint8_t data2)
{
    const int channel = status & 0x0F;
    switch (status & 0xF0) {
    case 0x90:
        if (data2 > 0)
            return F->fluid_synth_noteon(synth, channel, data1, data2) == FLUID_OK;
        [[fallthrough]];
    case 0x80:
        // A note-off for a key that no longer sounds is no error.
        F->fluid_synth_noteoff(synth, channel, data1);
        return true;
    case 0xB0:
        return F->fluid_synth_cc(synth, channel, data1, data2) == FLUID_OK;
    default:
        return false;
    }
}

bool Deliverable(uint8_t status)
{
    const int kind = status & 0xF0;
    return kind == 0x80 || kind == 0x90 || kind == 0xB0;
}

}  // namespace

struct SynthDevice::Engine {
    SynthOptions options;
    std::vector<std::string> soundfonts;  // to try in turn
    FailureHandler onFailure;
    std::vector<std::unique_ptr<Engine>> predecessors;  // abandoned engines, waited for on the worker

    // Made by the worker before the state leaves Loading; read by others only after.
    const FluidSynthApi* F = nullptr;
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_audio_driver_t* driver = nullptr;
    std::string soundfont;
    SynthAudioSetup setup;
    std::string error;

    std::atomic<int> state{Loading};
    bool settled = false;  // the load has ended and the failure handler has returned; under waitMutex
    std::atomic<bool> abandoned{false};
    std::thread worker;
    std::mutex waitMutex;  // state changes and abandoning; never held while loading, no put takes it
    std::condition_variable loadDone;

    // Notes put before the soundfont has loaded wait here, with the time they
    // were put. One producer (the caller of Send and Reset), one consumer
    // (the audio callback, or Render offline); no lock, no allocation.
    struct Held {
        int64_t at;  // steady-clock nanoseconds; 0: at once
        uint8_t status, data1, data2;
    };
    static constexpr uint64_t HeldCapacity = 1024;
    std::array<Held, HeldCapacity> held{};
    std::atomic<uint64_t> heldWritten{0};
    std::atomic<uint64_t> heldRead{0};
    std::atomic<uint64_t> heldDropBefore{0};  // a reset drops every note held before it
    int64_t heldShift = -1;                   // consumer's: how much later than put the held notes sound

    ~Engine()
    {
        abandoned.store(true);
        if (worker.joinable()) {
            ReleaseStartupWork();  // a held worker would never end
            worker.join();
        }
        Release();
    }

    bool IsLoaded() const { return state.load(std::memory_order_acquire) == LoadDone; }
    bool HeldEmpty() const { return heldRead.load(std::memory_order_acquire) == heldWritten.load(std::memory_order_relaxed); }

    void Release()
    {
        if (F == nullptr)
            return;
        // The audio thread goes first: it must not render a synthesizer that is being freed.
        if (driver != nullptr)
            F->delete_fluid_audio_driver(driver);
        driver = nullptr;
        if (synth != nullptr)
            F->delete_fluid_synth(synth);
        synth = nullptr;
        if (settings != nullptr)
            F->delete_fluid_settings(settings);
        settings = nullptr;
    }

    bool Hold(int64_t at, uint8_t status, uint8_t data1, uint8_t data2)
    {
        const uint64_t w = heldWritten.load(std::memory_order_relaxed);
        if (w - heldRead.load(std::memory_order_acquire) >= HeldCapacity)
            return false;
        held[w % HeldCapacity] = {at, status, data1, data2};
        heldWritten.store(w + 1, std::memory_order_release);
        return true;
    }

    // On the consumer's thread, once loaded: sounds the held notes that are due.
    // The first one sounds at once; the others keep their distance from it.
    void PlayHeld()
    {
        uint64_t r = heldRead.load(std::memory_order_relaxed);
        const uint64_t w = heldWritten.load(std::memory_order_acquire);
        if (r == w)
            return;
        const int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
        const uint64_t dropBefore = heldDropBefore.load(std::memory_order_acquire);
        for (; r != w; heldRead.store(++r, std::memory_order_release)) {
            if (r < dropBefore)
                continue;
            const Held& note = held[r % HeldCapacity];
            if (note.at == 0) {
                F->fluid_synth_all_notes_off(synth, -1);
                continue;
            }
            if (heldShift < 0)
                heldShift = now - note.at;
            if (note.at + heldShift > now)
                break;
            Deliver(F, synth, note.status, note.data1, note.data2);
        }
    }

    // The worker: first waits for abandoned engines (their audio outputs go
    // before a new one opens), then opens the audio output, then loads the
    // soundfonts in turn until one loads.
    void Run()
    {
        WaitForStartupWork();
        predecessors.clear();
        // FluidSynth's library is loaded by a helper that gives way to the
        // window's thread; this worker keeps its priority, which the audio
        // output's threads inherit.
        try {
            std::thread([this] {
                YieldToTheWindow();
                F = FluidSynth();
            }).join();
        } catch (const std::system_error&) {
            F = FluidSynth();
        }
        if (F == nullptr) {
            Finish(LoadFailed, FluidSynthError());
            return;
        }
        if (!abandoned.load() && !OpenOutput()) {
            Finish(LoadFailed, "no audio output could be opened");
            return;
        }
        // The audio output's threads are running at full priority by now;
        // the load, the longest part, gives way to the window's thread.
        YieldToTheWindow();
        std::vector<std::string> failed;
        for (const std::string& path : soundfonts) {
            if (abandoned.load())
                break;
            if (options.beforeLoad)
                options.beforeLoad();
            if (F->fluid_synth_sfload(synth, path.c_str(), 1) != FLUID_FAILED) {
                soundfont = path;
                Finish(LoadDone, {});
                return;
            }
            failed.push_back(path);
        }
        std::string why = failed.size() == 1 ? "the soundfont " + failed.front() + " could not be loaded"
                                             : "none of the soundfonts could be loaded:";
        if (failed.size() > 1)
            for (std::size_t i = 0; i < failed.size(); ++i)
                why += (i == 0 ? " " : ", ") + failed[i];
        Finish(LoadFailed, why);
    }

    bool OpenOutput()
    {
        settings = F->new_fluid_settings();
        if (settings == nullptr)
            return false;
        ApplySettings(F, settings, options);
        if (options.renderOffline) {
            synth = F->new_fluid_synth(settings);
            setup = {"", SampleRate, PeriodSize, Periods};
            return synth != nullptr;
        }
        // FluidSynth does not fall back from one driver to the next by itself.
        for (const std::string& name : options.audioDrivers) {
            if (abandoned.load())
                return false;
            double rate = SampleRate;
            if (name == "jack") {
                // FluidSynth's JACK driver would start a server of its own
                // when none runs; only a running one is used.
                uint32_t jackRate = 0;
                if (!JackServerAnswers(options.jackServer, &jackRate))
                    continue;
                rate = jackRate;
            }
            if (F->fluid_settings_setstr(settings, "audio.driver", name.c_str()) != FLUID_OK)
                continue;
            F->fluid_settings_setnum(settings, "synth.sample-rate", rate);
            synth = F->new_fluid_synth(settings);
            if (synth == nullptr)
                continue;
            driver = F->new_fluid_audio_driver2(settings, &Engine::Render, this);
            if (driver != nullptr) {
                setup = {name, rate, PeriodSize, Periods};
                return true;
            }
            F->delete_fluid_synth(synth);
            synth = nullptr;
        }
        return false;
    }

    // An engine abandoned meanwhile frees what it made, here, and tells no one.
    void Finish(LoadState result, std::string why)
    {
        bool tell = false;
        {
            std::lock_guard lock(waitMutex);
            if (abandoned.load()) {
                Release();
                result = LoadFailed;
            } else {
                tell = result == LoadFailed;
            }
            error = std::move(why);
            state.store(result, std::memory_order_release);
        }
        if (tell && onFailure)
            onFailure();
        // After the handler: whoever waits for the load finds it told.
        {
            std::lock_guard lock(waitMutex);
            settled = true;
        }
        loadDone.notify_all();
    }

    // The audio driver's callback, also used for offline rendering.
    static int Render(void* data, int len, int nfx, float* fx[], int nout, float* out[])
    {
        auto* engine = static_cast<Engine*>(data);
        for (int i = 0; i < nout; ++i)
            if (out[i] != nullptr)
                std::memset(out[i], 0, sizeof(float) * static_cast<std::size_t>(len));
        for (int i = 0; i < nfx; ++i)
            if (fx[i] != nullptr)
                std::memset(fx[i], 0, sizeof(float) * static_cast<std::size_t>(len));
        if (!engine->IsLoaded())
            return FLUID_OK;
        engine->PlayHeld();
        if (nfx == 0 && nout >= 2) {
            // No separate effect buffers: reverb and chorus are mixed into the dry output.
            float* effects[4] = {out[0], out[1], out[0], out[1]};
            return engine->F->fluid_synth_process(engine->synth, len, 4, effects, nout, out);
        }
        return engine->F->fluid_synth_process(engine->synth, len, nfx, fx, nout, out);
    }
};

SynthDevice::SynthDevice(SynthOptions options) : options_(std::move(options)) {}

SynthDevice::~SynthDevice()
{
    Close();
    abandoned_.clear();  // at the very end, this waits for loads still running
}

namespace {

// Where Debian and other systems install a General MIDI soundfont.
const char* const SystemSoundfonts[] = {"/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2",
                                        "/usr/share/sounds/sf2/TimGM6mb.sf2",   "/usr/share/sounds/sf3/default-GM.sf3",
                                        "/usr/share/soundfonts/default.sf2",    "/usr/share/soundfonts/FluidR3_GM.sf2"};

}  // namespace

std::vector<std::string> SynthDevice::DefaultSoundfonts()
{
    std::vector<std::string> paths;
    const FluidSynthApi* F = FluidSynth();
    fluid_settings_t* settings = F != nullptr ? F->new_fluid_settings() : nullptr;
    if (settings != nullptr) {
        char* configured = nullptr;
        if (F->fluid_settings_dupstr(settings, "synth.default-soundfont", &configured) == FLUID_OK && configured != nullptr) {
            paths.emplace_back(configured);
            F->fluid_free(configured);
        }
        F->delete_fluid_settings(settings);
    }
    for (const char* path : SystemSoundfonts) {
        if (std::find(paths.begin(), paths.end(), path) == paths.end())
            paths.emplace_back(path);
    }
    return paths;
}

bool SynthDevice::Open()
{
    if (engine_ && !Failed())
        return true;
    Close();
    lastError_.clear();
    SilenceSoundLibraries();

    // The system's usual places are looked at first: only when none holds a
    // soundfont is FluidSynth itself loaded here to ask for the one it was built with.
    std::vector<std::string> candidates = options_.soundfonts;
    if (candidates.empty())
        candidates.assign(std::begin(SystemSoundfonts), std::end(SystemSoundfonts));
    std::vector<std::string> present;
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(present), Readable);
    if (present.empty() && options_.soundfonts.empty()) {
        candidates = DefaultSoundfonts();
        std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(present), Readable);
    }
    if (present.empty()) {
        lastError_ = NoSoundfontInstalled;
        return false;
    }
    std::vector<std::string> soundfonts;
    std::copy_if(present.begin(), present.end(), std::back_inserter(soundfonts), LooksLikeSoundfont);
    if (soundfonts.empty()) {
        lastError_ = present.front() + " is not a SoundFont file";
        return false;
    }

    auto engine = std::make_unique<Engine>();
    engine->options = options_;
    engine->soundfonts = std::move(soundfonts);
    engine->onFailure = onFailure_;
    engine->predecessors = std::move(abandoned_);
    abandoned_.clear();
    try {
        engine->worker = std::thread([e = engine.get()] { e->Run(); });
    } catch (const std::system_error&) {
        abandoned_ = std::move(engine->predecessors);
        lastError_ = "the synthesizer could not start";
        return false;
    }
    engine_ = std::move(engine);
    return true;
}

void SynthDevice::Reset()
{
    if (!engine_)
        return;
    if (engine_->IsLoaded() && engine_->HeldEmpty()) {
        engine_->F->fluid_synth_all_notes_off(engine_->synth, -1);
        return;
    }
    // Notes still held back never sound; the ones already played from the
    // hold end with the others when the consumer comes to this mark.
    engine_->heldDropBefore.store(engine_->heldWritten.load(std::memory_order_relaxed), std::memory_order_release);
    engine_->Hold(0, 0xB0, 123, 0);
}

void SynthDevice::Close()
{
    if (!engine_)
        return;
    {
        std::lock_guard lock(engine_->waitMutex);
        if (engine_->state.load() == Loading) {
            engine_->abandoned.store(true);
            abandoned_.push_back(std::move(engine_));
            return;
        }
    }
    // Loaded or failed: the worker has ended, and the audio output closes here.
    engine_.reset();
}

bool SynthDevice::IsOpen() const
{
    return engine_ != nullptr && !Failed();
}

bool SynthDevice::Failed() const
{
    return engine_ != nullptr && engine_->state.load(std::memory_order_acquire) == LoadFailed;
}

std::string SynthDevice::LastError() const
{
    if (Failed())
        return engine_->error;
    return lastError_;
}

bool SynthDevice::Send(uint8_t status, uint8_t data1, uint8_t data2)
{
    if (!engine_ || !Deliverable(status))
        return false;
    const int state = engine_->state.load(std::memory_order_acquire);
    if (state == LoadFailed)
        return false;
    // Once the held notes have all sounded, notes go straight to the synthesizer.
    if (state == LoadDone && engine_->HeldEmpty())
        return Deliver(engine_->F, engine_->synth, status, data1, data2);
    const int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    return engine_->Hold(now, status, data1, data2);
}

bool SynthDevice::WaitUntilLoaded(std::chrono::milliseconds timeout)
{
    if (!engine_)
        return false;
    ReleaseStartupWork();  // the sound is wanted now
    std::unique_lock lock(engine_->waitMutex);
    engine_->loadDone.wait_for(lock, timeout, [this] { return engine_->settled; });
    return engine_->IsLoaded();
}

bool SynthDevice::Loaded() const
{
    return engine_ && engine_->IsLoaded();
}

std::string SynthDevice::SoundfontPath() const
{
    return Loaded() ? engine_->soundfont : std::string();
}

SynthAudioSetup SynthDevice::AudioSetup() const
{
    return Loaded() ? engine_->setup : SynthAudioSetup{};
}

bool SynthDevice::Render(float* left, float* right, int frames)
{
    if (!engine_ || !options_.renderOffline || frames <= 0)
        return false;
    float* out[2] = {left, right};
    Engine::Render(engine_.get(), frames, 0, nullptr, 2, out);
    return engine_->IsLoaded();
}

}  // namespace vocarine
