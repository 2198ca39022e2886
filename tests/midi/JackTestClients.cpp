#include "JackTestClients.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace vocarine::testing {

namespace {

struct MessageHeader {
    uint32_t frame;
    uint32_t size;
};

jack_client_t* OpenClient(const std::string& name)
{
    if (TestServerName().empty())
        return nullptr;
    jack_status_t status{};
    return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

}  // namespace

std::string TestServerName()
{
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    return name != nullptr ? std::string(name) : std::string();
}

JackMidiReceiver::JackMidiReceiver(const std::string& clientName, const std::string& portName)
{
    client_ = OpenClient(clientName);
    if (client_ == nullptr)
        return;
    ring_ = jack_ringbuffer_create(1 << 16);
    jack_set_process_callback(client_, &JackMidiReceiver::Process, this);
    port_ = jack_port_register(client_, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (port_ == nullptr || jack_activate(client_) != 0) {
        Close();
        port_ = nullptr;
    }
}

JackMidiReceiver::~JackMidiReceiver()
{
    Close();
    if (ring_ != nullptr)
        jack_ringbuffer_free(ring_);
}

void JackMidiReceiver::Close()
{
    if (client_ != nullptr) {
        jack_deactivate(client_);
        jack_client_close(client_);
        client_ = nullptr;
    }
}

std::string JackMidiReceiver::PortName() const
{
    return port_ != nullptr && client_ != nullptr ? jack_port_name(port_) : "";
}

int JackMidiReceiver::Connections() const
{
    return client_ != nullptr && port_ != nullptr ? jack_port_connected(port_) : 0;
}

uint32_t JackMidiReceiver::SampleRate() const
{
    return client_ != nullptr ? jack_get_sample_rate(client_) : 0;
}

int JackMidiReceiver::Process(jack_nframes_t frames, void* self)
{
    auto* receiver = static_cast<JackMidiReceiver*>(self);
    void* buffer = jack_port_get_buffer(receiver->port_, frames);
    const jack_nframes_t cycleStart = jack_last_frame_time(receiver->client_);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0)
            continue;
        const MessageHeader header{cycleStart + event.time, static_cast<uint32_t>(event.size)};
        if (jack_ringbuffer_write_space(receiver->ring_) < sizeof header + event.size)
            break;
        jack_ringbuffer_write(receiver->ring_, reinterpret_cast<const char*>(&header), sizeof header);
        jack_ringbuffer_write(receiver->ring_, reinterpret_cast<const char*>(event.buffer), event.size);
    }
    return 0;
}

void JackMidiReceiver::Drain()
{
    MessageHeader header{};
    while (jack_ringbuffer_read_space(ring_) >= sizeof header) {
        jack_ringbuffer_read(ring_, reinterpret_cast<char*>(&header), sizeof header);
        ReceivedMidi message{std::vector<uint8_t>(header.size), header.frame};
        jack_ringbuffer_read(ring_, reinterpret_cast<char*>(message.bytes.data()), header.size);
        received_.push_back(std::move(message));
    }
}

std::vector<ReceivedMidi> JackMidiReceiver::WaitFor(std::size_t count, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Drain();
    while (received_.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        Drain();
    }
    return received_;
}

std::vector<ReceivedMidi> JackMidiReceiver::CollectFor(std::chrono::milliseconds span)
{
    std::this_thread::sleep_for(span);
    Drain();
    return received_;
}

JackAudioMeter::JackAudioMeter(const std::string& clientName)
{
    client_ = OpenClient(clientName);
    if (client_ == nullptr)
        return;
    jack_set_process_callback(client_, &JackAudioMeter::Process, this);
    port_ = jack_port_register(client_, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    if (port_ == nullptr || jack_activate(client_) != 0)
        port_ = nullptr;
}

JackAudioMeter::~JackAudioMeter()
{
    if (client_ != nullptr) {
        jack_deactivate(client_);
        jack_client_close(client_);
    }
}

int JackAudioMeter::ConnectFrom(const std::string& regex)
{
    if (port_ == nullptr)
        return 0;
    int connected = 0;
    if (const char** ports = jack_get_ports(client_, regex.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput)) {
        for (const char** name = ports; *name != nullptr; ++name)
            if (jack_connect(client_, *name, jack_port_name(port_)) == 0)
                ++connected;
        jack_free(ports);
    }
    return connected;
}

int JackAudioMeter::Process(jack_nframes_t frames, void* self)
{
    auto* meter = static_cast<JackAudioMeter*>(self);
    const auto* samples = static_cast<const float*>(jack_port_get_buffer(meter->port_, frames));
    float peak = 0.0f;
    for (jack_nframes_t i = 0; i < frames; ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    if (meter->restartLoudest_.exchange(false))
        meter->loudest_.store(0.0f);
    if (peak > meter->loudest_.load())
        meter->loudest_.store(peak);
    meter->quietRun_.store(peak < meter->quietLevel_.load() ? meter->quietRun_.load() + 1 : 0);
    meter->cycle_.fetch_add(1);
    return 0;
}

void JackAudioMeter::WaitCycles(uint64_t count)
{
    const uint64_t until = cycle_.load() + count;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (cycle_.load() < until && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool JackAudioMeter::WaitForLoud(float level, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (loudest_.load() > level)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void JackAudioMeter::ForgetLoudest()
{
    restartLoudest_.store(true);
    WaitCycles(2);
}

bool JackAudioMeter::WaitForQuiet(float level, int cycles, std::chrono::milliseconds timeout)
{
    quietLevel_.store(level);
    quietRun_.store(0);
    WaitCycles(2);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (quietRun_.load() >= cycles)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

JackAudioPlayer::JackAudioPlayer(const std::string& clientName, std::vector<float> samples, int ports, bool loop,
                                 std::vector<float> gains)
    : gains_(std::move(gains)), samples_(std::move(samples)), loop_(loop)
{
    gains_.resize(static_cast<std::size_t>(std::max(ports, 0)), 1.0f);
    client_ = OpenClient(clientName);
    if (client_ == nullptr)
        return;
    for (int p = 0; p < ports; ++p) {
        const std::string name = "out_" + std::to_string(p + 1);
        jack_port_t* port = jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (port == nullptr) {
            ports_.clear();
            return;
        }
        ports_.push_back(port);
    }
    jack_set_process_callback(client_, &JackAudioPlayer::Process, this);
    if (jack_activate(client_) != 0)
        ports_.clear();
}

JackAudioPlayer::~JackAudioPlayer()
{
    Close();
}

void JackAudioPlayer::Close()
{
    if (client_ != nullptr) {
        jack_deactivate(client_);
        jack_client_close(client_);
        client_ = nullptr;
    }
}

std::string JackAudioPlayer::ClientName() const
{
    return client_ != nullptr ? jack_get_client_name(client_) : "";
}

uint32_t JackAudioPlayer::SampleRate() const
{
    return client_ != nullptr ? jack_get_sample_rate(client_) : 0;
}

int JackAudioPlayer::Process(jack_nframes_t frames, void* self)
{
    auto* player = static_cast<JackAudioPlayer*>(self);
    const std::size_t total = player->samples_.size();
    std::size_t position = player->position_;
    std::size_t played = 0;
    for (std::size_t p = 0; p < player->ports_.size(); ++p) {
        auto* out = static_cast<float*>(jack_port_get_buffer(player->ports_[p], frames));
        position = player->position_;
        played = 0;
        for (jack_nframes_t i = 0; i < frames; ++i) {
            if (position >= total && player->loop_ && total > 0)
                position = 0;
            if (position < total) {
                out[i] = player->samples_[position++] * player->gains_[p];
                ++played;
            } else {
                out[i] = 0.0f;
            }
        }
    }
    player->position_ = position;
    player->played_.fetch_add(played);
    return 0;
}

}  // namespace vocarine::testing
