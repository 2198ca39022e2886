#include "audio/SystemInputs.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <rtaudio/RtAudio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/stat.h>

namespace vocarine {

namespace {

void DiscardJackMessage(const char*) {}

void DiscardAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// JACK and ALSA print their complaints on the terminal unless told otherwise.
void SilenceSoundLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(DiscardJackMessage);
        jack_set_info_function(DiscardJackMessage);
        snd_lib_error_set_handler(DiscardAlsaMessage);
    });
}

// Mixes `frames` interleaved frames of `channels` channels to one channel and
// hands them to the ring, a slice at a time through a buffer on the stack.
void PushMixed(SampleRing& ring, const float* input, unsigned frames, unsigned channels)
{
    constexpr unsigned Slice = 256;
    std::array<float, Slice> mono;
    const float scale = 1.0f / static_cast<float>(channels);
    for (unsigned done = 0; done < frames;) {
        const unsigned n = std::min(Slice, frames - done);
        for (unsigned i = 0; i < n; ++i) {
            float sum = 0.0f;
            for (unsigned c = 0; c < channels; ++c)
                sum += input[(done + i) * channels + c];
            mono[i] = sum * scale;
        }
        ring.Push(mono.data(), n);
        done += n;
    }
}

// ---------------------------------------------------------------------------
// RtAudio: the desktop's default input and the ALSA capture devices.

bool ApiCompiled(RtAudio::Api api)
{
    std::vector<RtAudio::Api> apis;
    RtAudio::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

// A new RtAudio on `api` that keeps its warnings to itself, or nullptr.
std::unique_ptr<RtAudio> MakeRtAudio(RtAudio::Api api)
{
    SilenceSoundLibraries();
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

// ---------------------------------------------------------------------------
// JACK: a client that plays audio, recorded through our own input ports.

jack_client_t* OpenJackClient(const char* name)
{
    SilenceSoundLibraries();
    jack_status_t status{};
    // JackNoStartServer: looking for inputs must never bring up a server.
    return jack_client_open(name, JackNoStartServer, &status);
}

// Audio output ports of client `client`, by full name, in the server's order.
std::vector<std::string> SourcePorts(jack_client_t* jack, const std::string& client)
{
    std::vector<std::string> names;
    const std::string prefix = client + ":";
    if (const char** ports = jack_get_ports(jack, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput)) {
        for (const char** port = ports; *port != nullptr; ++port)
            if (std::strncmp(*port, prefix.c_str(), prefix.size()) == 0)
                names.emplace_back(*port);
        jack_free(ports);
    }
    return names;
}

class JackInput : public AudioDevice {
public:
    explicit JackInput(std::string clientName) : source_(std::move(clientName)) {}
    ~JackInput() override { Close(); }

    std::string Name() const override { return source_; }
    bool IsOpen() const override { return client_ != nullptr; }
    uint32_t SampleRate() const override { return rate_; }
    bool Failed() const override
    {
        // The server swaps in a changed graph at the start of its next
        // cycle: whether a connection that went leaves us with none is
        // looked at when asked, not when the news comes.
        if (failed_.load(std::memory_order_acquire) == FailedNot && disconnectSeen_.load(std::memory_order_acquire) &&
            client_ != nullptr) {
            int remaining = 0;
            for (std::size_t p = 0; p < portCount_; ++p)
                remaining += jack_port_connected(ports_[p]);
            if (remaining == 0)
                Fail(FailedDisconnected);
        }
        return failed_.load(std::memory_order_acquire) != FailedNot;
    }

    std::string LastError() const override
    {
        switch (failed_.load(std::memory_order_acquire)) {
        case FailedServerGone:
            return "the JACK server stopped";
        case FailedSourceGone:
            return "the JACK client is gone";
        case FailedDisconnected:
            // A client that leaves is disconnected before it is gone: look
            // whether it is still there.
            if (client_ != nullptr && SourcePorts(client_, source_).empty())
                return "the JACK client is gone";
            return "the JACK client was disconnected";
        default:
            return lastError_;
        }
    }

    bool Open(SampleRing& ring) override
    {
        Close();
        lastError_.clear();
        failed_.store(FailedNot, std::memory_order_release);
        disconnectSeen_.store(false, std::memory_order_release);
        jack_client_t* client = OpenJackClient(JackClientName);
        if (client == nullptr) {
            lastError_ = "the JACK server is not running";
            return false;
        }
        const std::vector<std::string> sources = SourcePorts(client, source_);
        if (sources.empty()) {
            jack_client_close(client);
            lastError_ = "the JACK client is no longer there";
            return false;
        }
        portCount_ = std::min<std::size_t>(sources.size(), ports_.size());
        for (std::size_t i = 0; i < portCount_; ++i) {
            const std::string name = "in_" + std::to_string(i + 1);
            ports_[i] = jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
            if (ports_[i] == nullptr) {
                jack_client_close(client);
                lastError_ = "our JACK input port could not be made";
                return false;
            }
        }
        ring_ = &ring;
        client_ = client;
        jack_set_process_callback(client, &JackInput::Process, this);
        jack_on_shutdown(client, &JackInput::ServerGone, this);
        jack_set_client_registration_callback(client, &JackInput::ClientChanged, this);
        jack_set_port_connect_callback(client, &JackInput::ConnectionChanged, this);
        if (jack_activate(client) != 0) {
            CloseClient();
            lastError_ = "our JACK client could not be started";
            return false;
        }
        rate_ = jack_get_sample_rate(client);
        int connected = 0;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            // A source with more ports than we have shares ours round the ports.
            jack_port_t* ours = ports_[i % portCount_];
            if (jack_connect(client, sources[i].c_str(), jack_port_name(ours)) == 0)
                ++connected;
        }
        if (connected == 0) {
            CloseClient();
            lastError_ = "the JACK client's ports could not be connected";
            return false;
        }
        connected_.store(true, std::memory_order_release);
        return true;
    }

    void Close() override
    {
        CloseClient();
        ring_ = nullptr;
    }

private:
    enum FailureCode { FailedNot, FailedServerGone, FailedSourceGone, FailedDisconnected };

    void CloseClient()
    {
        connected_.store(false, std::memory_order_release);
        if (client_ == nullptr)
            return;
        // Once deactivated no callback of ours runs any more.
        jack_deactivate(client_);
        jack_client_close(client_);
        client_ = nullptr;
        ports_.fill(nullptr);
        portCount_ = 0;
    }

    void Fail(FailureCode code) const
    {
        // The first reason stays, except that a client known gone says more
        // than its lost connections did.
        int before = FailedNot;
        if (!failed_.compare_exchange_strong(before, code, std::memory_order_acq_rel) &&
            before == FailedDisconnected && code == FailedSourceGone)
            failed_.compare_exchange_strong(before, code, std::memory_order_acq_rel);
    }

    // JACK's process thread: mixes our ports to one channel and hands it on.
    static int Process(jack_nframes_t frames, void* self)
    {
        auto* input = static_cast<JackInput*>(self);
        constexpr jack_nframes_t Slice = 256;
        std::array<const float*, MaxPorts> buffers{};
        for (std::size_t p = 0; p < input->portCount_; ++p)
            buffers[p] = static_cast<const float*>(jack_port_get_buffer(input->ports_[p], frames));
        const float scale = 1.0f / static_cast<float>(input->portCount_);
        std::array<float, Slice> mono;
        for (jack_nframes_t done = 0; done < frames;) {
            const jack_nframes_t n = std::min(Slice, frames - done);
            for (jack_nframes_t i = 0; i < n; ++i) {
                float sum = 0.0f;
                for (std::size_t p = 0; p < input->portCount_; ++p)
                    sum += buffers[p][done + i];
                mono[i] = sum * scale;
            }
            input->ring_->Push(mono.data(), n);
            done += n;
        }
        return 0;
    }

    static void ServerGone(void* self)
    {
        static_cast<JackInput*>(self)->Fail(FailedServerGone);
    }

    static void ClientChanged(const char* name, int registered, void* self)
    {
        auto* input = static_cast<JackInput*>(self);
        if (registered == 0 && name != nullptr && input->source_ == name)
            input->Fail(FailedSourceGone);
    }

    // A source that drops its ports, or a patchbay that takes the connection
    // away, leaves us recording silence: that is a failure too.
    static void ConnectionChanged(jack_port_id_t, jack_port_id_t, int connect, void* self)
    {
        auto* input = static_cast<JackInput*>(self);
        if (connect == 0 && input->connected_.load(std::memory_order_acquire))
            input->disconnectSeen_.store(true, std::memory_order_release);
    }

    static constexpr std::size_t MaxPorts = 8;

    std::string source_;
    jack_client_t* client_ = nullptr;
    std::array<jack_port_t*, MaxPorts> ports_{};
    std::size_t portCount_ = 0;
    SampleRing* ring_ = nullptr;
    uint32_t rate_ = 0;
    std::atomic<bool> connected_{false};  // our connections are made: a lost one counts from now
    std::atomic<bool> disconnectSeen_{false};  // a connection went since the open
    mutable std::atomic<int> failed_{FailedNot};
    std::string lastError_;
};

}  // namespace

std::optional<std::vector<std::string>> ListJackSources()
{
    jack_client_t* client = OpenJackClient("vocarine-list");
    if (client == nullptr)
        return std::nullopt;
    std::vector<std::string> clients;
    if (const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput)) {
        for (const char** port = ports; *port != nullptr; ++port) {
            const char* colon = std::strchr(*port, ':');
            if (colon == nullptr)
                continue;
            std::string name(*port, colon);
            // Our own clients (the built-in synthesizer's among them) are no
            // one singing: the program must not listen to itself.
            if (name == JackClientName || name.rfind(std::string(JackClientName) + "-", 0) == 0)
                continue;
            if (std::find(clients.begin(), clients.end(), name) == clients.end())
                clients.push_back(std::move(name));
        }
        jack_free(ports);
    }
    jack_client_close(client);
    return clients;
}

std::unique_ptr<AudioDevice> MakeJackInput(const std::string& clientName)
{
    return std::make_unique<JackInput>(clientName);
}

AudioDeviceList SystemInputDevices()
{
    SilenceSoundLibraries();
    AudioDeviceList devices;
    const bool desktop = DesktopHasInput();
    if (desktop)
        devices.push_back(
            std::make_unique<RtAudioInput>(RtInputKind::DesktopDefault, std::string(), "Desktop default input"));
    AddAlsaInputs(devices, desktop);
    if (const auto sources = ListJackSources())
        for (const std::string& source : *sources)
            devices.push_back(MakeJackInput(source));
    return devices;
}

}  // namespace vocarine
