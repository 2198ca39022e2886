// FluidSynth, loaded when the built-in synthesizer first needs it rather than
// with the program: the library and the three dozen libraries it brings along
// (SDL, PulseAudio, sound file codecs) take about as long to load as the
// whole main window takes to appear, so the synthesizer's worker loads it
// while the window is built.
#pragma once

#include <fluidsynth.h>

#include <string>

namespace vocarine {

// FluidSynth's entry points that the synthesizer uses, by their own names.
struct FluidSynthApi {
    decltype(&::new_fluid_settings) new_fluid_settings;
    decltype(&::delete_fluid_settings) delete_fluid_settings;
    decltype(&::fluid_settings_setint) fluid_settings_setint;
    decltype(&::fluid_settings_setnum) fluid_settings_setnum;
    decltype(&::fluid_settings_setstr) fluid_settings_setstr;
    decltype(&::fluid_settings_dupstr) fluid_settings_dupstr;
    decltype(&::fluid_free) fluid_free;
    decltype(&::fluid_set_log_function) fluid_set_log_function;
    decltype(&::new_fluid_synth) new_fluid_synth;
    decltype(&::delete_fluid_synth) delete_fluid_synth;
    decltype(&::fluid_synth_sfload) fluid_synth_sfload;
    decltype(&::fluid_synth_noteon) fluid_synth_noteon;
    decltype(&::fluid_synth_noteoff) fluid_synth_noteoff;
    decltype(&::fluid_synth_cc) fluid_synth_cc;
    decltype(&::fluid_synth_all_notes_off) fluid_synth_all_notes_off;
    decltype(&::fluid_synth_process) fluid_synth_process;
    decltype(&::new_fluid_audio_driver2) new_fluid_audio_driver2;
    decltype(&::delete_fluid_audio_driver) delete_fluid_audio_driver;
};

// Loads the library the first time (from any thread; a second caller waits
// for the first), with its log output silenced, and returns its entry
// points; nullptr when it cannot be loaded, and then FluidSynthError() says why.
const FluidSynthApi* FluidSynth();
std::string FluidSynthError();

}  // namespace vocarine
