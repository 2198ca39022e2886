#include "midi/SynthDevice.h"

#include <fluidsynth.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "midi/Backends.h"

namespace vocarine {

namespace {

// 48 kHz is what desktop sound servers run at, so nothing resamples on the way.
constexpr double SampleRate = 48000.0;
// 256 frames (5.3 ms) per period, four periods in an ALSA device's buffer.
constexpr int PeriodSize = 256;
constexpr int Periods = 4;
constexpr const char* JackClientName = "vocarine-synth";

enum LoadState : int { Loading, LoadDone, LoadFailed };

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

void ApplySettings(fluid_settings_t* settings, const SynthOptions& options)
{
    fluid_settings_setnum(settings, "synth.sample-rate", SampleRate);
    fluid_settings_setint(settings, "audio.period-size", PeriodSize);
    fluid_settings_setint(settings, "audio.periods", Periods);
    // Only the presets the channels use are read: loading takes a fraction of
    // the time and memory of the whole bank.
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    // Left on, PulseAudio lets the stream grow to about 100 ms of latency.
    fluid_settings_setint(settings, "audio.pulseaudio.adjust-latency", 0);
    // A non-empty role makes the driver set an environment variable of the
    // whole process while other threads may read the environment.
    fluid_settings_setstr(settings, "audio.pulseaudio.media-role", "");
    // Played to the speakers, not into an unconnected port.
    fluid_settings_setint(settings, "audio.jack.autoconnect", 1);
    fluid_settings_setstr(settings, "audio.jack.id", JackClientName);
    fluid_settings_setstr(settings, "audio.jack.server", options.jackServer.c_str());
}

}  // namespace

struct SynthDevice::Engine {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_audio_driver_t* driver = nullptr;
    std::string soundfont;
    SynthAudioSetup setup;

    std::atomic<int> state{Loading};
    std::thread loader;
    std::mutex waitMutex;  // only for WaitUntilLoaded; no put ever takes it
    std::condition_variable loadDone;

    ~Engine()
    {
        if (loader.joinable())
            loader.join();
        // The audio thread goes first: it must not render a synthesizer that is being freed.
        if (driver != nullptr)
            delete_fluid_audio_driver(driver);
        if (synth != nullptr)
            delete_fluid_synth(synth);
        if (settings != nullptr)
            delete_fluid_settings(settings);
    }

    bool IsLoaded() const { return state.load(std::memory_order_acquire) == LoadDone; }

    // Runs on the loader thread. Until the state says Loaded, neither the
    // audio thread nor a put touches the synthesizer, so the load has it to itself.
    void Load()
    {
        const int id = fluid_synth_sfload(synth, soundfont.c_str(), 1);
        {
            std::lock_guard lock(waitMutex);
            state.store(id == FLUID_FAILED ? LoadFailed : LoadDone, std::memory_order_release);
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
        if (nfx == 0 && nout >= 2) {
            // No separate effect buffers: reverb and chorus are mixed into the dry output.
            float* effects[4] = {out[0], out[1], out[0], out[1]};
            return fluid_synth_process(engine->synth, len, 4, effects, nout, out);
        }
        return fluid_synth_process(engine->synth, len, nfx, fx, nout, out);
    }
};

SynthDevice::SynthDevice(SynthOptions options) : options_(std::move(options)) {}

SynthDevice::~SynthDevice()
{
    Close();
}

std::vector<std::string> SynthDevice::DefaultSoundfonts()
{
    std::vector<std::string> paths;
    SilenceSoundLibraries();
    if (fluid_settings_t* settings = new_fluid_settings()) {
        char* configured = nullptr;
        if (fluid_settings_dupstr(settings, "synth.default-soundfont", &configured) == FLUID_OK && configured != nullptr) {
            paths.emplace_back(configured);
            fluid_free(configured);
        }
        delete_fluid_settings(settings);
    }
    for (const char* path : {"/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2",
                             "/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf3/default-GM.sf3",
                             "/usr/share/soundfonts/default.sf2", "/usr/share/soundfonts/FluidR3_GM.sf2"}) {
        if (std::find(paths.begin(), paths.end(), path) == paths.end())
            paths.emplace_back(path);
    }
    return paths;
}

bool SynthDevice::Open()
{
    if (engine_)
        return true;
    lastError_.clear();
    SilenceSoundLibraries();

    const std::vector<std::string> candidates = options_.soundfonts.empty() ? DefaultSoundfonts() : options_.soundfonts;
    const auto present = std::find_if(candidates.begin(), candidates.end(), Readable);
    if (present == candidates.end()) {
        lastError_ = "no General MIDI soundfont was found";
        return false;
    }
    const auto found = std::find_if(present, candidates.end(),
                                    [](const std::string& path) { return Readable(path) && LooksLikeSoundfont(path); });
    if (found == candidates.end()) {
        lastError_ = *present + " is not a SoundFont file";
        return false;
    }

    auto engine = std::make_unique<Engine>();
    engine->soundfont = *found;
    engine->settings = new_fluid_settings();
    if (engine->settings == nullptr) {
        lastError_ = "FluidSynth could not start";
        return false;
    }
    ApplySettings(engine->settings, options_);

    if (options_.renderOffline) {
        engine->synth = new_fluid_synth(engine->settings);
        engine->setup = {"", SampleRate, PeriodSize, Periods};
    } else {
        // FluidSynth does not fall back from one driver to the next by itself.
        for (const std::string& driver : options_.audioDrivers) {
            double rate = SampleRate;
            if (driver == "jack") {
                // FluidSynth's JACK driver would start a server of its own
                // when none runs; only a running one is used.
                uint32_t jackRate = 0;
                if (!JackServerAnswers(options_.jackServer, &jackRate))
                    continue;
                rate = jackRate;
            }
            if (fluid_settings_setstr(engine->settings, "audio.driver", driver.c_str()) != FLUID_OK)
                continue;
            fluid_settings_setnum(engine->settings, "synth.sample-rate", rate);
            engine->synth = new_fluid_synth(engine->settings);
            if (engine->synth == nullptr)
                continue;
            engine->driver = new_fluid_audio_driver2(engine->settings, &Engine::Render, engine.get());
            if (engine->driver != nullptr) {
                engine->setup = {driver, rate, PeriodSize, Periods};
                break;
            }
            delete_fluid_synth(engine->synth);
            engine->synth = nullptr;
        }
        if (engine->driver == nullptr) {
            lastError_ = "no audio output could be opened";
            return false;
        }
    }
    if (engine->synth == nullptr) {
        lastError_ = "FluidSynth could not start";
        return false;
    }

    try {
        engine->loader = std::thread([e = engine.get()] { e->Load(); });
    } catch (const std::system_error&) {
        lastError_ = "the soundfont could not be loaded";
        return false;
    }
    engine_ = std::move(engine);
    return true;
}

void SynthDevice::Reset()
{
    if (engine_ && engine_->IsLoaded())
        fluid_synth_all_notes_off(engine_->synth, -1);
}

void SynthDevice::Close()
{
    engine_.reset();
}

bool SynthDevice::IsOpen() const
{
    return engine_ != nullptr;
}

bool SynthDevice::Send(uint8_t status, uint8_t data1, uint8_t data2)
{
    if (!engine_ || !engine_->IsLoaded())
        return false;
    fluid_synth_t* synth = engine_->synth;
    const int channel = status & 0x0F;
    switch (status & 0xF0) {
    case 0x90:
        if (data2 > 0)
            return fluid_synth_noteon(synth, channel, data1, data2) == FLUID_OK;
        [[fallthrough]];
    case 0x80:
        // A note-off for a key that no longer sounds is no error.
        fluid_synth_noteoff(synth, channel, data1);
        return true;
    case 0xB0:
        return fluid_synth_cc(synth, channel, data1, data2) == FLUID_OK;
    default:
        return false;
    }
}

bool SynthDevice::WaitUntilLoaded(std::chrono::milliseconds timeout)
{
    if (!engine_)
        return false;
    std::unique_lock lock(engine_->waitMutex);
    engine_->loadDone.wait_for(lock, timeout, [this] { return engine_->state.load() != Loading; });
    return engine_->IsLoaded();
}

bool SynthDevice::Loaded() const
{
    return engine_ && engine_->IsLoaded();
}

std::string SynthDevice::SoundfontPath() const
{
    return engine_ ? engine_->soundfont : std::string();
}

SynthAudioSetup SynthDevice::AudioSetup() const
{
    return engine_ ? engine_->setup : SynthAudioSetup{};
}

bool SynthDevice::Render(float* left, float* right, int frames)
{
    if (!engine_ || engine_->driver != nullptr || frames <= 0)
        return false;
    float* out[2] = {left, right};
    Engine::Render(engine_.get(), frames, 0, nullptr, 2, out);
    return engine_->IsLoaded();
}

}  // namespace vocarine
