// Clients of the tests' own JACK server (the one JACK_DEFAULT_SERVER names,
// started by scripts/jack-test-server.sh): a MIDI receiver that keeps the
// exact bytes it gets, a meter of the audio a port plays, and a player that
// plays samples through audio output ports, as a microphone's program would.
#pragma once

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vocarine::testing {

// The private test server's name, empty when the tests were not started by
// CTest (then they must not touch whatever JACK server the user runs).
std::string TestServerName();

struct ReceivedMidi {
    std::vector<uint8_t> bytes;
    uint32_t frame;  // JACK frame time at which the message arrived
};

class JackMidiReceiver {
public:
    explicit JackMidiReceiver(const std::string& clientName, const std::string& portName = "midi_in");
    ~JackMidiReceiver();
    JackMidiReceiver(const JackMidiReceiver&) = delete;
    JackMidiReceiver& operator=(const JackMidiReceiver&) = delete;

    bool Ok() const { return port_ != nullptr; }
    std::string PortName() const;  // "client:port"
    int Connections() const;
    uint32_t SampleRate() const;

    // Everything received so far, once at least `count` messages are in or the time is up.
    std::vector<ReceivedMidi> WaitFor(std::size_t count, std::chrono::milliseconds timeout);
    // Everything received within `span`.
    std::vector<ReceivedMidi> CollectFor(std::chrono::milliseconds span);

    // Closes the client: its port vanishes from the server.
    void Close();

private:
    static int Process(jack_nframes_t frames, void* self);
    void Drain();

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    jack_ringbuffer_t* ring_ = nullptr;
    std::vector<ReceivedMidi> received_;
};

// Measures the peak level of what arrives at its input, cycle by cycle.
class JackAudioMeter {
public:
    explicit JackAudioMeter(const std::string& clientName);
    ~JackAudioMeter();
    JackAudioMeter(const JackAudioMeter&) = delete;
    JackAudioMeter& operator=(const JackAudioMeter&) = delete;

    bool Ok() const { return port_ != nullptr; }
    // Connects every audio output port whose name matches `regex` to the meter.
    int ConnectFrom(const std::string& regex);

    // Forgets the peaks heard so far.
    void ForgetLoudest();
    // Waits until a cycle since the last ForgetLoudest peaks above `level`.
    bool WaitForLoud(float level, std::chrono::milliseconds timeout);
    // Waits until `cycles` cycles in a row stay below `level`.
    bool WaitForQuiet(float level, int cycles, std::chrono::milliseconds timeout);

private:
    static int Process(jack_nframes_t frames, void* self);

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    void WaitCycles(uint64_t count);

    // Written by the process callback only, except the requests.
    std::atomic<float> loudest_{0.0f};          // highest peak since the last restart request
    std::atomic<bool> restartLoudest_{false};
    std::atomic<float> quietLevel_{0.0f};
    std::atomic<int> quietRun_{0};              // cycles in a row below quietLevel_
    std::atomic<uint64_t> cycle_{0};
};

// Plays a take through `ports` audio output ports, sample for sample, port p
// scaled by `gains[p]` (1 when not given); over and over when `loop`, else
// once and silence after it.
class JackAudioPlayer {
public:
    JackAudioPlayer(const std::string& clientName, std::vector<float> samples, int ports = 1, bool loop = true,
                    std::vector<float> gains = {});
    ~JackAudioPlayer();
    JackAudioPlayer(const JackAudioPlayer&) = delete;
    JackAudioPlayer& operator=(const JackAudioPlayer&) = delete;

    bool Ok() const { return client_ != nullptr && !ports_.empty(); }
    // The name the server gave the client.
    std::string ClientName() const;
    uint32_t SampleRate() const;
    // Samples played so far, silence after a take not counted.
    std::size_t Played() const { return played_.load(); }
    // Closes the client: it vanishes from the server.
    void Close();

private:
    static int Process(jack_nframes_t frames, void* self);

    jack_client_t* client_ = nullptr;
    std::vector<jack_port_t*> ports_;
    std::vector<float> gains_;
    std::vector<float> samples_;
    bool loop_;
    std::size_t position_ = 0;  // process thread only
    std::atomic<std::size_t> played_{0};
};

}  // namespace vocarine::testing
