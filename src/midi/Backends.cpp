#include "midi/Backends.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vocarine {

namespace {

void DiscardJackMessage(const char*) {}

void DiscardAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

std::atomic<bool> refuseCounterClient{false};

std::chrono::microseconds PeriodOf(jack_client_t* client)
{
    const jack_nframes_t rate = jack_get_sample_rate(client);
    const jack_nframes_t frames = jack_get_buffer_size(client);
    if (rate == 0 || frames == 0)
        return JackCycleCounter::LongPeriod;
    return std::chrono::microseconds((uint64_t(frames) * 1000000 + rate - 1) / rate);
}

}  // namespace

void SilenceSoundLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(DiscardJackMessage);
        jack_set_info_function(DiscardJackMessage);
        snd_lib_error_set_handler(DiscardAlsaMessage);
        // FluidSynth's log is silenced when the library is loaded (FluidSynthLibrary).
    });
}

bool JackServerAnswers(const std::string& serverName, uint32_t* sampleRate)
{
    SilenceSoundLibraries();
    // JackNoStartServer: asking must never bring up a server of our own.
    const int options = JackNoStartServer | (serverName.empty() ? 0 : JackServerName);
    jack_status_t status{};
    jack_client_t* client = serverName.empty()
        ? jack_client_open("vocarine-probe", static_cast<jack_options_t>(options), &status)
        : jack_client_open("vocarine-probe", static_cast<jack_options_t>(options), &status, serverName.c_str());
    if (client == nullptr)
        return false;
    if (sampleRate != nullptr)
        *sampleRate = jack_get_sample_rate(client);
    jack_client_close(client);
    return true;
}

JackCycleCounter::JackCycleCounter()
{
    SilenceSoundLibraries();
    jack_status_t status{};
    if (!refuseCounterClient.load())
        client_ = jack_client_open("vocarine-cycles", JackNoStartServer, &status);
    if (client_ == nullptr) {
        // The server may still answer a client that only asks its period.
        jack_client_t* probe = jack_client_open("vocarine-probe", JackNoStartServer, &status);
        if (probe != nullptr) {
            period_ = PeriodOf(probe);
            jack_client_close(probe);
        }
        return;
    }
    period_ = PeriodOf(client_);
    if (jack_set_process_callback(client_, &JackCycleCounter::Process, this) != 0 || jack_activate(client_) != 0) {
        jack_client_close(client_);
        client_ = nullptr;
    }
}

void JackCycleCounter::RefuseClientForTesting(bool refuse)
{
    refuseCounterClient.store(refuse);
}

JackCycleCounter::~JackCycleCounter()
{
    if (client_ != nullptr) {
        jack_deactivate(client_);
        jack_client_close(client_);
    }
}

int JackCycleCounter::Process(uint32_t, void* self)
{
    static_cast<JackCycleCounter*>(self)->count_.fetch_add(1, std::memory_order_release);
    return 0;
}

bool JackCycleCounter::WaitCycles(int cycles, std::chrono::milliseconds timeout) const
{
    if (client_ == nullptr) {
        // Nothing counts the cycles: wait as long as they take by the clock,
        // the one running now included.
        const auto span = std::min<std::chrono::microseconds>(period_ * (cycles + 1), timeout);
        std::this_thread::sleep_for(span);
        return true;
    }
    // The cycle running now may have passed the point that matters: it does not count.
    const uint64_t target = count_.load(std::memory_order_acquire) + static_cast<uint64_t>(cycles) + 1;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (count_.load(std::memory_order_acquire) < target) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::optional<std::vector<std::string>> JackMidiInputPorts()
{
    SilenceSoundLibraries();
    jack_status_t status{};
    jack_client_t* client = jack_client_open("vocarine-list", JackNoStartServer, &status);
    if (client == nullptr)
        return std::nullopt;
    std::vector<std::string> names;
    if (const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput)) {
        for (const char** port = ports; *port != nullptr; ++port)
            names.emplace_back(*port);
        jack_free(ports);
    }
    jack_client_close(client);
    return names;
}

namespace {

struct StartupHold {
    std::mutex mutex;
    std::condition_variable released;
    bool held = false;
};

StartupHold& Hold()
{
    static StartupHold hold;
    return hold;
}

}  // namespace

void HoldStartupWork()
{
    std::lock_guard lock(Hold().mutex);
    Hold().held = true;
}

void ReleaseStartupWork()
{
    {
        std::lock_guard lock(Hold().mutex);
        if (!Hold().held)
            return;
        Hold().held = false;
    }
    Hold().released.notify_all();
}

void WaitForStartupWork()
{
    std::unique_lock lock(Hold().mutex);
    Hold().released.wait(lock, [] { return !Hold().held; });
}

void YieldToTheWindow()
{
    // Linux keeps a nice value per thread; the window's thread keeps its own.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}

bool AlsaSequencerAnswers()
{
    SilenceSoundLibraries();
    snd_seq_t* sequencer = nullptr;
    if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0)
        return false;
    snd_seq_close(sequencer);
    return true;
}

}  // namespace vocarine
