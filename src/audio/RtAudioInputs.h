// The module that lists the desktop's default input and the ALSA capture
// devices through RtAudio, as the program sees it: one function, looked up by
// name once the module is loaded.
#pragma once

#include "audio/AudioInput.h"

#define VOCARINE_MODULE_ENTRY __attribute__((visibility("default")))

namespace vocarine {

// Adds the desktop's default input (when a PulseAudio or PipeWire server has
// one) and the ALSA capture devices to `devices`. Never throws.
using AddRtAudioInputsFunction = void (*)(AudioDeviceList& devices);

constexpr const char* AddRtAudioInputsName = "vocarine_add_rtaudio_inputs";

}  // namespace vocarine
