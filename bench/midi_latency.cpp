// How long the built-in synthesizer takes from a put to sound.
//
// The synthesizer plays through a JACK server with the dummy driver (the one
// JACK_DEFAULT_SERVER names, or a private one this program starts); a client
// of this program listens to its output. Before each put the time is read as
// a JACK frame time (jack_frame_time: the frame being played now, interpolated
// within the cycle); the listener stamps the first sample above -80 dBFS with
// its frame time (start of its cycle + offset). The difference is the latency
// inside the audio graph (from a fraction of a period early, when the put
// lands after a cycle began but before the synthesizer rendered it, to one
// period late); the server's playback latency, what a sound card's buffer
// adds, is reported and added on top.
//
//   midi_latency [trials]

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "PrivateJackServer.h"
#include "midi/MaxMidi.h"
#include "midi/SynthDevice.h"

namespace {

using namespace std::chrono_literals;
using namespace vocarine;

constexpr float Threshold = 1e-4f;  // -80 dBFS

// Listens to the synthesizer and stamps the first sound after it is armed.
class Listener {
public:
    Listener()
    {
        jack_status_t status{};
        client_ = jack_client_open("vocarine-latency", JackNoStartServer, &status);
        if (client_ == nullptr)
            return;
        jack_set_process_callback(client_, &Listener::Process, this);
        left_ = jack_port_register(client_, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        right_ = jack_port_register(client_, "right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        if (left_ == nullptr || right_ == nullptr || jack_activate(client_) != 0) {
            jack_client_close(client_);
            client_ = nullptr;
        }
    }

    ~Listener()
    {
        if (client_ != nullptr) {
            jack_deactivate(client_);
            jack_client_close(client_);
        }
    }

    bool Ok() const { return client_ != nullptr; }
    jack_client_t* Client() const { return client_; }

    bool Connect()
    {
        const char** ports = jack_get_ports(client_, "^vocarine-synth[^:]*:(left|right)$", JACK_DEFAULT_AUDIO_TYPE,
                                            JackPortIsOutput);
        if (ports == nullptr)
            return false;
        int connected = 0;
        for (int i = 0; ports[i] != nullptr && i < 2; ++i)
            connected += jack_connect(client_, ports[i], jack_port_name(i == 0 ? left_ : right_)) == 0;
        jack_free(ports);
        return connected == 2;
    }

    void Arm()
    {
        heardAt_.store(0);
        armed_.store(true);
    }

    // Frame time of the first sound since Arm, or 0 when none within the timeout.
    jack_nframes_t WaitForSound(std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (armed_.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(200us);
        armed_.store(false);
        return heardAt_.load();
    }

    // Waits until `span` passes without a sample above the threshold.
    bool WaitForSilence(std::chrono::milliseconds span, std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto quietSince = lastLoud_.load();
            const double quietFrames = double(jack_frame_time(client_) - quietSince);
            if (quietFrames / jack_get_sample_rate(client_) * 1000.0 >= double(span.count()))
                return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

private:
    static int Process(jack_nframes_t frames, void* self)
    {
        auto* listener = static_cast<Listener*>(self);
        const jack_nframes_t start = jack_last_frame_time(listener->client_);
        const auto* left = static_cast<const float*>(jack_port_get_buffer(listener->left_, frames));
        const auto* right = static_cast<const float*>(jack_port_get_buffer(listener->right_, frames));
        for (jack_nframes_t i = 0; i < frames; ++i) {
            if (std::fabs(left[i]) > Threshold || std::fabs(right[i]) > Threshold) {
                listener->lastLoud_.store(start + i);
                if (listener->armed_.load()) {
                    listener->heardAt_.store(start + i);
                    listener->armed_.store(false);
                }
            }
        }
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* left_ = nullptr;
    jack_port_t* right_ = nullptr;
    std::atomic<bool> armed_{false};
    std::atomic<jack_nframes_t> heardAt_{0};
    std::atomic<jack_nframes_t> lastLoud_{0};
};

double Percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const double rank = p / 100.0 * double(values.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(rank));
    const auto above = std::min(values.size() - 1, below + 1);
    return values[below] + (values[above] - values[below]) * (rank - double(below));
}

}  // namespace

int main(int argc, char** argv)
{
    const int trials = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    PrivateJackServer server(VOCARINE_JACK_SCRIPT);
    if (!server.Running()) {
        std::fprintf(stderr, "no JACK server: could not start one with %s\n", VOCARINE_JACK_SCRIPT);
        return 1;
    }

    SynthOptions options;
    options.audioDrivers = {"jack"};
    auto synthOwned = std::make_unique<SynthDevice>(options);
    SynthDevice* synth = synthOwned.get();
    MidiDeviceList devices;
    devices.push_back(std::move(synthOwned));
    TMaxMidi midi(std::move(devices));
    TMaxMidiOut out(midi);
    if (out.OpenMidiOut(0, OpenFlags) <= 32) {
        std::fprintf(stderr, "%s\n", out.LastOpenError().c_str());
        return 1;
    }
    if (!synth->WaitUntilLoaded(30s)) {
        std::fprintf(stderr, "the soundfont did not load\n");
        return 1;
    }
    Listener listener;
    if (!listener.Ok() || !listener.Connect()) {
        std::fprintf(stderr, "could not listen to the synthesizer's output\n");
        return 1;
    }

    const double rate = jack_get_sample_rate(listener.Client());
    const jack_nframes_t period = jack_get_buffer_size(listener.Client());
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> phase(0, 6000);  // microseconds: all places within a 5.3 ms cycle

    std::vector<double> latencies;
    int unheard = 0;
    for (int trial = 0; trial < trials; ++trial) {
        if (!listener.WaitForSilence(200ms, 5s)) {
            std::fprintf(stderr, "the synthesizer does not fall silent\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(phase(random)));
        listener.Arm();
        MidiEvent event{SendNow, NoteOnStatus, 69, NoteVelocity, 0};
        const jack_nframes_t putAt = jack_frame_time(listener.Client());
        out.PutMidiOut(&event);
        const jack_nframes_t heardAt = listener.WaitForSound(1s);
        event.status = NoteOffStatus;
        out.PutMidiOut(&event);
        if (heardAt == 0) {
            ++unheard;
            continue;
        }
        // Signed: a put made just after a cycle began, before the synthesizer
        // rendered it, sounds in that very cycle, stamped with its start.
        latencies.push_back(double(int32_t(heardAt - putAt)) / rate * 1000.0);
    }

    // What the server's output adds after the graph: its playback latency.
    jack_latency_range_t playback{0, 0};
    if (jack_port_t* speaker = jack_port_by_name(listener.Client(), "system:playback_1"))
        jack_port_get_latency_range(speaker, JackPlaybackLatency, &playback);
    const double outputMs = playback.max / rate * 1000.0;

    const SynthAudioSetup setup = synth->AudioSetup();
    std::printf("Built-in synthesizer, put to sound through JACK (dummy driver)\n");
    std::printf("  server %s%s, %.0f Hz, %u frames per period (%.2f ms)\n", server.Name().c_str(),
                server.StartedHere() ? " (started for this run)" : "", rate, period, period / rate * 1000.0);
    std::printf("  synthesizer driver %s at %.0f Hz, soundfont %s\n", setup.driver.c_str(), setup.sampleRate,
                synth->SoundfontPath().c_str());
    std::printf("  trials %d, heard %zu, not heard %d\n", trials, latencies.size(), unheard);
    if (!latencies.empty()) {
        const auto report = [&](const char* what, double add) {
            std::printf("  %s ms: min %.2f  median %.2f  p90 %.2f  max %.2f\n", what,
                        *std::min_element(latencies.begin(), latencies.end()) + add,
                        Percentile(latencies, 50) + add, Percentile(latencies, 90) + add,
                        *std::max_element(latencies.begin(), latencies.end()) + add);
        };
        report("put to the synthesizer's output", 0.0);
        std::printf("  the server's playback latency: %u frames (%.2f ms)\n", playback.max, outputMs);
        report("put to the speaker output     ", outputMs);
    }
    std::printf("Derived from the buffer settings (period %d frames, %d periods, %.0f Hz):\n", setup.periodSize,
                setup.periods, setup.sampleRate);
    const double periodMs = setup.periodSize / setup.sampleRate * 1000.0;
    std::printf("  a put waits for the next period the synthesizer renders: 0 to %.1f ms\n", periodMs);
    std::printf("  ALSA: %d x %d frames in the device buffer = %.1f ms, so %.1f to %.1f ms\n", setup.periods,
                setup.periodSize, setup.periods * periodMs, setup.periods * periodMs, (setup.periods + 1) * periodMs);
    std::printf("  PulseAudio/PipeWire: target %d frames = %.1f ms in the stream, so %.1f to %.1f ms plus the server's own\n",
                setup.periodSize, periodMs, periodMs, 2 * periodMs);
    std::printf("  JACK: the server's period (%u frames = %.1f ms here) plus the sound card's output latency\n", period,
                period / rate * 1000.0);
    return unheard == 0 ? 0 : 1;
}
