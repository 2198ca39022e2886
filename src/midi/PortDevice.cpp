#include "midi/PortDevice.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <iostream>
#include <regex>
#include <sstream>

#include "midi/Backends.h"

namespace vocarine {

namespace {

constexpr const char* ClientName = "Vocarine";
constexpr const char* OwnPortName = "output";
// How long a JACK port may take to settle on opening and closing; a stalled
// server must not hang the program.
constexpr std::chrono::milliseconds JackSettleLimit{1000};

RtMidi::Api ApiOf(PortSystem system)
{
    return system == PortSystem::Jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA;
}

// RtMidi reports errors through this callback once it is set, instead of
// printing them; the text goes into a fixed buffer of the device.
void KeepRtMidiError(RtMidiError::Type, const std::string& text, void* buffer)
{
    auto* out = static_cast<std::array<char, 160>*>(buffer);
    if (out == nullptr)
        return;
    const std::size_t n = std::min(text.size(), out->size() - 1);
    std::memcpy(out->data(), text.data(), n);
    (*out)[n] = '\0';
}

// RtMidi's constructors print their warnings before an error callback can be
// set (a JACK server that went away, an ALSA sequencer that is missing).
// Nothing else in the program writes to std::cerr, so its output is simply
// set aside for the duration.
class QuietErrorStream {
public:
    QuietErrorStream() : previous_(std::cerr.rdbuf(sink_.rdbuf())) {}
    ~QuietErrorStream() { std::cerr.rdbuf(previous_); }
    QuietErrorStream(const QuietErrorStream&) = delete;
    QuietErrorStream& operator=(const QuietErrorStream&) = delete;

private:
    std::stringstream sink_;
    std::streambuf* previous_;
};

bool SystemAnswers(PortSystem system)
{
    return system == PortSystem::Jack ? JackServerAnswers() : AlsaSequencerAnswers();
}

// A new RtMidi output on the system, or nullptr; never prints, never throws.
std::unique_ptr<RtMidiOut> MakeOutput(PortSystem system, std::array<char, 160>* errorBuffer)
{
    if (!SystemAnswers(system))
        return nullptr;
    try {
        QuietErrorStream quiet;
        auto out = std::make_unique<RtMidiOut>(ApiOf(system), ClientName);
        out->setErrorCallback(KeepRtMidiError, errorBuffer);
        return out;
    } catch (...) {
        return nullptr;
    }
}

std::string Trimmed(std::string text)
{
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

// The longest start of `text` of at most `limit` bytes that ends on a whole UTF-8 character.
std::string Utf8Prefix(const std::string& text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::size_t length = limit;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return text.substr(0, length);
}

std::string Joined(const std::string& client, const std::string& port)
{
    if (client.empty())
        return port;
    if (port.empty())
        return client;
    // "Midi Through:Midi Through Port-0" says the client's name twice.
    if (port.rfind(client, 0) == 0)
        return port;
    return client + ":" + port;
}

}  // namespace

std::optional<std::vector<std::string>> ListPorts(PortSystem system)
{
    if (system == PortSystem::Jack)
        return JackMidiInputPorts();
    std::array<char, 160> errors{};
    auto out = MakeOutput(system, &errors);
    if (!out)
        return std::nullopt;
    std::vector<std::string> names;
    try {
        const unsigned int count = out->getPortCount();
        for (unsigned int i = 0; i < count; ++i) {
            std::string name = out->getPortName(i);
            if (!name.empty())
                names.push_back(std::move(name));
        }
    } catch (...) {
        return std::nullopt;
    }
    return names;
}

std::string DisplayPortName(PortSystem system, const std::string& portName)
{
    std::string name = Trimmed(portName);
    if (system == PortSystem::AlsaSequencer) {
        // RtMidi appends the sequencer address, "client:port" in numbers.
        static const std::regex address(R"(\s+\d+:\d+$)");
        name = std::regex_replace(name, address, "");
    }
    std::string client;
    std::string port = name;
    if (const auto colon = name.find(':'); colon != std::string::npos) {
        client = Trimmed(name.substr(0, colon));
        port = Trimmed(name.substr(colon + 1));
    }
    name = Joined(client, port);

    // Too long: drop what repeats or numbers the port rather than its words.
    static const std::regex bracketed(R"(\s*[\(\[][^\)\]]*[\)\]])");
    static const std::regex trailingPortWord(R"(\s+port$)", std::regex::icase);
    if (name.size() > DeviceNameLimit) {
        port = Trimmed(std::regex_replace(port, bracketed, ""));
        name = Joined(client, port);
    }
    if (name.size() > DeviceNameLimit) {
        port = Trimmed(std::regex_replace(port, trailingPortWord, ""));
        name = Joined(client, port);
    }
    if (name.size() > DeviceNameLimit) {
        // A bridge names its ports "device (capture): port"; the last part says most.
        if (const auto sep = port.rfind(": "); sep != std::string::npos) {
            port = Trimmed(port.substr(sep + 2));
            name = Joined(client, port);
        }
    }
    if (name.size() > DeviceNameLimit && !client.empty() && port.size() + 8 <= DeviceNameLimit) {
        // The port tells the ports of one program apart: cut the program's name instead.
        client = Trimmed(Utf8Prefix(client, DeviceNameLimit - 1 - port.size()));
        name = client + ":" + port;
    }
    if (name.size() > DeviceNameLimit)
        name = Trimmed(Utf8Prefix(name, DeviceNameLimit));
    return name;
}

PortDevice::PortDevice(PortSystem system, std::string portName)
    : system_(system), portName_(std::move(portName)), displayName_(DisplayPortName(system_, portName_))
{
}

PortDevice::~PortDevice()
{
    Close();
}

bool PortDevice::Open()
{
    lastError_.clear();
    if (out_)
        return true;
    callbackError_[0] = '\0';
    auto out = MakeOutput(system_, &callbackError_);
    if (!out) {
        lastError_ = system_ == PortSystem::Jack ? "the JACK server is not running"
                                                 : "the ALSA sequencer cannot be reached";
        return false;
    }
    try {
        // Port numbers shift as other programs come and go: look the port up
        // by its name now.
        const unsigned int count = out->getPortCount();
        unsigned int index = count;
        for (unsigned int i = 0; i < count; ++i) {
            if (out->getPortName(i) == portName_) {
                index = i;
                break;
            }
        }
        if (index == count) {
            lastError_ = "the port is no longer there";
            return false;
        }
        callbackError_[0] = '\0';
        out->openPort(index, OwnPortName);
        if (!out->isPortOpen() || callbackError_[0] != '\0') {
            lastError_ = "the port could not be connected";
            return false;
        }
    } catch (...) {
        lastError_ = "the port could not be connected";
        return false;
    }
    out_ = std::move(out);
    for (auto& keys : sounding_)
        keys.reset();
    if (system_ == PortSystem::Jack) {
        // The connection takes effect at a later cycle of the server: notes
        // put before then would be lost, so the port is ready only after it.
        cycles_ = std::make_unique<JackCycleCounter>();
        cycles_->WaitCycles(2, JackSettleLimit);
    }
    return true;
}

void PortDevice::Reset()
{
    if (!out_)
        return;
    for (std::size_t channel = 0; channel < sounding_.size(); ++channel) {
        if (sounding_[channel].none())
            continue;
        for (std::size_t key = 0; key < 128; ++key) {
            if (!sounding_[channel].test(key))
                continue;
            const unsigned char noteOff[3] = {static_cast<unsigned char>(0x80 | channel),
                                              static_cast<unsigned char>(key), 80};
            Deliver(noteOff, sizeof noteOff);
        }
        sounding_[channel].reset();
    }
}

void PortDevice::Close()
{
    if (!out_)
        return;
    // RtMidi hands JACK messages to the server in its next cycle and may
    // unregister the port before that: the note-offs of a reset just before
    // would never arrive, and the notes would hang on the synthesizer.
    if (cycles_)
        cycles_->WaitCycles(2, JackSettleLimit);
    try {
        out_->closePort();
    } catch (...) {
    }
    // RtMidi's JACK output frees its message buffer before it closes its
    // client, while a process cycle that began before the port was closed may
    // still be reading that buffer. Cycles that begin after the close leave
    // the buffer alone, so once two have passed it can go.
    if (cycles_)
        cycles_->WaitCycles(2, JackSettleLimit);
    out_.reset();
    cycles_.reset();
}

bool PortDevice::IsOpen() const
{
    return out_ != nullptr;
}

bool PortDevice::Send(uint8_t status, uint8_t data1, uint8_t data2)
{
    if (!out_)
        return false;
    const unsigned char message[3] = {status, data1, data2};
    const uint8_t kind = status & 0xF0;
    // Program change and channel pressure carry one data byte.
    const std::size_t size = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
    if (!Deliver(message, size))
        return false;
    const std::size_t channel = status & 0x0F;
    if (kind == 0x90 && data2 > 0)
        sounding_[channel].set(data1 & 0x7F);
    else if (kind == 0x80 || kind == 0x90)
        sounding_[channel].reset(data1 & 0x7F);
    return true;
}

bool PortDevice::Deliver(const unsigned char* bytes, std::size_t size)
{
    callbackError_[0] = '\0';
    try {
        out_->sendMessage(bytes, size);
    } catch (...) {
        return false;
    }
    return callbackError_[0] == '\0';
}

}  // namespace vocarine
