// How long finding the audio inputs and opening one takes: the work that the
// main window does on a thread of its own at start-up. Measured with no JACK
// server, and with a dummy JACK server on which one client plays audio.
//
//   audio_inputs_bench [runs]
//
// Prints, per case, the median and the slowest of the runs in milliseconds:
// the search (AudioInputs::FindDevices), then the open of the default input,
// or when there is none of the last input listed (a JACK client), and the
// time until its first sample arrives.
#include <jack/jack.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "PrivateJackServer.h"
#include "audio/AudioInput.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// A JACK client that plays a quiet tone, standing in for a singer's program.
class Player {
public:
    Player()
    {
        jack_status_t status{};
        client_ = jack_client_open("bench-player", JackNoStartServer, &status);
        if (client_ == nullptr)
            return;
        port_ = jack_port_register(client_, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, &Player::Process, this);
        jack_activate(client_);
    }
    ~Player()
    {
        if (client_ != nullptr) {
            jack_deactivate(client_);
            jack_client_close(client_);
        }
    }

private:
    static int Process(jack_nframes_t frames, void* self)
    {
        auto* out = static_cast<float*>(jack_port_get_buffer(static_cast<Player*>(self)->port_, frames));
        std::fill(out, out + frames, 0.1f);
        return 0;
    }
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
};

struct Figures {
    std::vector<double> search, open, firstSample;
    int devices = 0;
    std::string opened;
};

void Measure(int runs, Figures& figures)
{
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        vocarine::AudioInputs inputs(vocarine::AudioInputs::FindDevices());
        const auto found = Clock::now();
        figures.search.push_back(Milliseconds(found - start));
        figures.devices = inputs.DeviceCount();
        int device = inputs.DefaultDevice();
        if (device < 0)
            device = inputs.DeviceCount() - 1;
        if (device < 0)
            continue;
        vocarine::AudioInputPort port(inputs);
        const auto openStart = Clock::now();
        if (!port.Open(device)) {
            figures.opened = "failed: " + port.LastError();
            continue;
        }
        const auto opened = Clock::now();
        figures.open.push_back(Milliseconds(opened - openStart));
        figures.opened = inputs.Device(device)->Name();
        float sample = 0;
        while (port.Read(&sample, 1) == 0 && Clock::now() - opened < std::chrono::seconds(2))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        figures.firstSample.push_back(Milliseconds(Clock::now() - opened));
    }
}

std::string Summary(std::vector<double> values)
{
    if (values.empty())
        return "-";
    std::sort(values.begin(), values.end());
    char text[64];
    std::snprintf(text, sizeof text, "%.2f / %.2f", values[values.size() / 2], values.back());
    return text;
}

void Print(const char* what, const Figures& figures)
{
    std::printf("%-34s devices %d; search %s ms; open %s ms; first sample %s ms (%s)\n", what, figures.devices,
                Summary(figures.search).c_str(), Summary(figures.open).c_str(),
                Summary(figures.firstSample).c_str(), figures.opened.empty() ? "nothing opened" : figures.opened.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    std::printf("median / slowest of %d runs\n", runs);
    {
        // A server name nobody runs: the search finds no JACK server.
        const char* before = std::getenv("JACK_DEFAULT_SERVER");
        const std::string kept = before != nullptr ? before : "";
        ::setenv("JACK_DEFAULT_SERVER", "vocarine-bench-no-server", 1);
        Figures figures;
        Measure(runs, figures);
        Print("no JACK server:", figures);
        if (before != nullptr)
            ::setenv("JACK_DEFAULT_SERVER", kept.c_str(), 1);
        else
            ::unsetenv("JACK_DEFAULT_SERVER");
    }
    PrivateJackServer server(VOCARINE_JACK_SCRIPT);
    if (!server.Running()) {
        std::printf("dummy JACK server: could not be started\n");
        return 1;
    }
    Player player;
    Figures figures;
    Measure(runs, figures);
    Print("dummy JACK server, one player:", figures);
    return 0;
}
