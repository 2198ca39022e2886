#include "audio/SystemInputs.h"

#include <dlfcn.h>
#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "audio/RtAudioInputs.h"

namespace vocarine {

namespace {

void DiscardJackMessage(const char*) {}

// JACK prints its complaints on the terminal unless told otherwise.
void SilenceSoundLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(DiscardJackMessage);
        jack_set_info_function(DiscardJackMessage);
    });
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

// Where the installed program finds the module, from its own folder: kept
// whole in the binary, where the package check reads it.
extern const char RtAudioModuleFromProgram[] = VOCARINE_RTAUDIO_MODULE_FROM_PROGRAM;

// The RtAudio module: beside the installed program first, then (in a build
// made for development) where the build put it. Loaded once and kept: its
// devices' code lives there.
AddRtAudioInputsFunction RtAudioInputs()
{
    static const AddRtAudioInputsFunction add = [] () -> AddRtAudioInputsFunction {
        std::vector<std::filesystem::path> places;
        std::error_code error;
        const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
        if (!error)
            places.push_back(program.parent_path() / RtAudioModuleFromProgram);
#ifdef VOCARINE_RTAUDIO_MODULE_BUILT
        places.emplace_back(VOCARINE_RTAUDIO_MODULE_BUILT);
#endif
        for (const std::filesystem::path& place : places) {
            if (!std::filesystem::exists(place, error))
                continue;
            void* module = dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (module == nullptr)
                continue;
            if (void* entry = dlsym(module, AddRtAudioInputsName))
                return reinterpret_cast<AddRtAudioInputsFunction>(entry);
            dlclose(module);
        }
        return nullptr;  // only JACK's inputs, then
    }();
    return add;
}

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
    if (const AddRtAudioInputsFunction addRtAudioInputs = RtAudioInputs())
        addRtAudioInputs(devices);
    if (const auto sources = ListJackSources())
        for (const std::string& source : *sources)
            devices.push_back(MakeJackInput(source));
    return devices;
}

}  // namespace vocarine
