// The system's audio inputs: the desktop's default input (PipeWire or
// PulseAudio) and the ALSA capture devices through RtAudio, and the clients
// of a running JACK server that play audio. Nothing here prints on the
// terminal or starts a sound server.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioInput.h"
#include "audio/RtAudioInputs.h"

namespace vocarine {

// Every input of the system, in the order the device list shows them. Never
// throws; a system that cannot be reached adds no device.
AudioDeviceList SystemInputDevices();

// The lister of the desktop's and ALSA's inputs, from the RtAudio module
// (loaded on the first call); nullptr when the module cannot be loaded.
AddRtAudioInputsFunction RtAudioInputs();

// Names of the JACK clients that have audio output ports, in the server's
// order; nullopt when no JACK server runs (the default one, or the one
// JACK_DEFAULT_SERVER names).
std::optional<std::vector<std::string>> ListJackSources();

// An input that records what JACK client `clientName` plays: opening it
// registers our client "vocarine" and connects that client's audio output
// ports to ours, mixed to one channel.
std::unique_ptr<AudioDevice> MakeJackInput(const std::string& clientName);

// The name our JACK client asks for.
constexpr const char* JackClientName = "vocarine";

}  // namespace vocarine
