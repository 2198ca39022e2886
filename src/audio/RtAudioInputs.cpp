// The desktop's default input and the ALSA capture devices, through RtAudio.
// Built as a module of its own that the program loads when it first looks for
// inputs: RtAudio brings the PulseAudio client and its sound-file codecs, some
// fifteen libraries that would otherwise be loaded before the window appears.
#include "audio/RtAudioInputs.h"

#include <alsa/asoundlib.h>
#include <rtaudio/RtAudio.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace vocarine {

namespace {

void DiscardAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// ALSA prints its complaints on the terminal unless told otherwise.
void SilenceAlsa()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(DiscardAlsaMessage); });
}

bool ApiCompiled(RtAudio::Api api)
{
    std::vector<RtAudio::Api> apis;
    RtAudio::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

// A new RtAudio on `api` that keeps its warnings to itself, or nullptr.
std::unique_ptr<RtAudio> MakeRtAudio(RtAudio::Api api)
{
    SilenceAlsa();
    // Asked for an API it was built without, RtAudio prints and picks another.
    if (!ApiCompiled(api))
        return nullptr;
    try {
        auto audio = std::make_unique<RtAudio>(api);
        audio->showWarnings(false);
        return audio;
    } catch (...) {
        return nullptr;
    }
}

// Whether a PulseAudio server (PipeWire's counts) may be there to ask. Asking
// when there is none can bring one up, and takes time for nothing.
bool PulseServerMayAnswer()
{
    if (const char* server = std::getenv("PULSE_SERVER"); server != nullptr && *server != '\0')
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0')
        return false;
    struct stat info {};
    const std::string socket = std::string(runtime) + "/pulse/native";
    return stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

unsigned ChooseSampleRate(const RtAudio::DeviceInfo& info)
{
    const auto& rates = info.sampleRates;
    const auto supports = [&rates](unsigned rate) {
        return std::find(rates.begin(), rates.end(), rate) != rates.end();
    };
    for (const unsigned rate : {48000u, 44100u})
        if (supports(rate))
            return rate;
    if (info.preferredSampleRate >= 16000 && (rates.empty() || supports(info.preferredSampleRate)))
        return info.preferredSampleRate;
    // The highest rate up to 96 kHz: pitch needs no more, and less is coarse.
    unsigned best = 0;
    for (const unsigned rate : rates)
        if (rate <= 96000 && rate > best)
            best = rate;
    return best != 0 ? best : 48000;
}

enum class RtInputKind { DesktopDefault, AlsaDefault, AlsaDevice };

class RtAudioInput;

// RtAudio's error callback carries no pointer of ours: it reaches the one
// device whose stream is open. The port opens one device at a time.
std::atomic<RtAudioInput*> streamOwner{nullptr};

class RtAudioInput : public AudioDevice {
public:
    RtAudioInput(RtInputKind kind, std::string systemName, std::string displayName)
        : kind_(kind), systemName_(std::move(systemName)), displayName_(std::move(displayName))
    {
    }
    ~RtAudioInput() override { Close(); }

    std::string Name() const override { return displayName_; }
    bool IsDefaultInput() const override { return kind_ != RtInputKind::AlsaDevice; }
    bool IsOpen() const override { return audio_ != nullptr; }
    uint32_t SampleRate() const override { return rate_; }
    bool Failed() const override { return failed_.load(std::memory_order_acquire); }

    std::string LastError() const override
    {
        std::lock_guard<std::mutex> lock(errorMutex_);
        return lastError_;
    }

    bool Open(SampleRing& ring) override
    {
        Close();
        SetError({});
        failed_.store(false, std::memory_order_release);
        const RtAudio::Api api = kind_ == RtInputKind::DesktopDefault ? RtAudio::LINUX_PULSE : RtAudio::LINUX_ALSA;
        auto audio = MakeRtAudio(api);
        if (!audio) {
            SetError(kind_ == RtInputKind::DesktopDefault ? "the desktop's sound server cannot be reached"
                                                          : "ALSA cannot be reached");
            return false;
        }
        try {
            const auto found = Find(*audio);
            if (!found) {
                SetError("the input is no longer there");
                return false;
            }
            const auto& [index, info] = *found;
            channels_ = std::min(info.inputChannels, 2u);
            rate_ = ChooseSampleRate(info);
            ring_ = &ring;
            RtAudio::StreamParameters input;
            input.deviceId = index;
            input.nChannels = channels_;
            unsigned frames = 256;  // about 5 ms: the trace must follow the voice closely
            RtAudio::StreamOptions options;
            options.streamName = "Vocarine";
            streamOwner.store(this, std::memory_order_release);
            audio->openStream(nullptr, &input, RTAUDIO_FLOAT32, rate_, &frames, &RtAudioInput::Deliver, this,
                              &options, &RtAudioInput::KeepError);
            if (!audio->isStreamOpen()) {
                SetError("the input could not be opened");
                return false;
            }
            rate_ = audio->getStreamSampleRate();
            audio->startStream();
            if (!audio->isStreamRunning()) {
                SetError("the input could not be started");
                return false;
            }
        } catch (const std::exception& error) {
            SetError(PlainWords(error.what()));
            return false;
        } catch (...) {
            SetError("the input could not be opened");
            return false;
        }
        audio_ = std::move(audio);
        return true;
    }

    void Close() override
    {
        if (audio_) {
            try {
                if (audio_->isStreamOpen())
                    audio_->closeStream();
            } catch (...) {
            }
            audio_.reset();
        }
        RtAudioInput* self = this;
        streamOwner.compare_exchange_strong(self, nullptr);
        ring_ = nullptr;
    }

private:
    std::optional<std::pair<unsigned, RtAudio::DeviceInfo>> Find(RtAudio& audio) const
    {
        // Device numbers shift as devices come and go: look the input up again.
        const unsigned count = audio.getDeviceCount();
        std::optional<std::pair<unsigned, RtAudio::DeviceInfo>> firstInput;
        for (unsigned i = 0; i < count; ++i) {
            RtAudio::DeviceInfo info;
            try {
                info = audio.getDeviceInfo(i);
            } catch (...) {
                continue;
            }
            if (!info.probed || info.inputChannels == 0)
                continue;
            if (kind_ == RtInputKind::DesktopDefault) {
                if (info.isDefaultInput)
                    return std::make_pair(i, info);
                if (!firstInput)
                    firstInput = std::make_pair(i, info);
            } else if (info.name == systemName_) {
                return std::make_pair(i, info);
            }
        }
        return firstInput;
    }

    // RtAudio's messages name its own functions; the user gets the reason.
    static std::string PlainWords(std::string text)
    {
        if (const auto colon = text.find(": "); colon != std::string::npos && text.rfind("Rt", 0) == 0)
            text = text.substr(colon + 2);
        while (!text.empty() && (text.back() == '.' || text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        return text.empty() ? std::string("the input could not be opened") : text;
    }

    void SetError(std::string text)
    {
        std::lock_guard<std::mutex> lock(errorMutex_);
        lastError_ = std::move(text);
    }

    // Runs on RtAudio's thread: copies, mixes, returns. No lock, no allocation.
    static int Deliver(void*, void* input, unsigned frames, double, RtAudioStreamStatus, void* self)
    {
        auto* device = static_cast<RtAudioInput*>(self);
        if (input != nullptr && device->ring_ != nullptr)
            PushMixed(*device->ring_, static_cast<const float*>(input), frames, device->channels_);
        return 0;
    }

    // RtAudio reports a lost device as a warning that repeats on every read;
    // an overrun it recovers from is a warning too, and is no failure.
    static void KeepError(RtAudioError::Type type, const std::string& text)
    {
        RtAudioInput* device = streamOwner.load(std::memory_order_acquire);
        if (device == nullptr)
            return;
        const bool lost = type != RtAudioError::WARNING || text.find("read error") != std::string::npos ||
                          text.find("current state") != std::string::npos ||
                          text.find("preparing") != std::string::npos;
        if (!lost || device->Failed())
            return;
        device->SetError("the input stopped delivering sound (" + PlainWords(text) + ")");
        device->failed_.store(true, std::memory_order_release);
    }

    RtInputKind kind_;
    std::string systemName_;  // as RtAudio names it: found again by this on every open
    std::string displayName_;
    std::unique_ptr<RtAudio> audio_;
    SampleRing* ring_ = nullptr;
    unsigned channels_ = 1;
    uint32_t rate_ = 0;
    std::atomic<bool> failed_{false};
    mutable std::mutex errorMutex_;  // the error callback writes from RtAudio's thread
    std::string lastError_;
};

// "hw:HDA Intel PCH,0" becomes "HDA Intel PCH (ALSA 0)".
std::string AlsaDisplayName(const std::string& name)
{
    std::string rest = name.rfind("hw:", 0) == 0 ? name.substr(3) : name;
    const auto comma = rest.rfind(',');
    if (comma == std::string::npos)
        return rest + " (ALSA)";
    return rest.substr(0, comma) + " (ALSA " + rest.substr(comma + 1) + ")";
}

bool DesktopHasInput()
{
    if (!PulseServerMayAnswer())
        return false;
    auto audio = MakeRtAudio(RtAudio::LINUX_PULSE);
    if (!audio)
        return false;
    try {
        const unsigned count = audio->getDeviceCount();
        for (unsigned i = 0; i < count; ++i)
            if (audio->getDeviceInfo(i).inputChannels > 0)
                return true;
    } catch (...) {
    }
    return false;
}

void AddAlsaInputs(AudioDeviceList& devices, bool desktopDefaultListed)
{
    auto audio = MakeRtAudio(RtAudio::LINUX_ALSA);
    if (!audio)
        return;
    // RtAudio counts ALSA's "default" first when it exists. With a sound
    // server it leads to the desktop's input, listed already, and probing it
    // would cost a round to the server: it is left out unasked.
    unsigned first = 0;
    if (desktopDefaultListed) {
        snd_ctl_t* control = nullptr;
        if (snd_ctl_open(&control, "default", 0) == 0) {
            snd_ctl_close(control);
            first = 1;
        }
    }
    try {
        const unsigned count = audio->getDeviceCount();
        for (unsigned i = first; i < count; ++i) {
            RtAudio::DeviceInfo info;
            try {
                info = audio->getDeviceInfo(i);
            } catch (...) {
                continue;
            }
            if (!info.probed || info.inputChannels == 0)
                continue;
            if (info.name == "default") {
                if (!desktopDefaultListed)
                    devices.push_back(std::make_unique<RtAudioInput>(RtInputKind::AlsaDefault, info.name,
                                                                     "Default input (ALSA)"));
                continue;
            }
            devices.push_back(
                std::make_unique<RtAudioInput>(RtInputKind::AlsaDevice, info.name, AlsaDisplayName(info.name)));
        }
    } catch (...) {
    }
}

}  // namespace

}  // namespace vocarine

extern "C" VOCARINE_MODULE_ENTRY void vocarine_add_rtaudio_inputs(vocarine::AudioDeviceList& devices)
{
    using namespace vocarine;
    try {
        const bool desktop = DesktopHasInput();
        if (desktop)
            devices.push_back(
                std::make_unique<RtAudioInput>(RtInputKind::DesktopDefault, std::string(), "Desktop default input"));
        AddAlsaInputs(devices, desktop);
    } catch (...) {
        // a system that cannot be asked adds no device
    }
}
