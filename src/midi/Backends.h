// What the layer needs to know about the system's sound and MIDI libraries
// before it touches them: whether a backend answers at all, asked in a way
// that prints nothing and starts nothing.
#pragma once

#include <cstdint>
#include <string>

namespace vocarine {

// Routes the log and error output of FluidSynth, JACK and ALSA to nowhere.
// Safe to call more than once; the first call does the work.
void SilenceSoundLibraries();

// Whether a JACK server with this name (empty: the default server, which
// JACK_DEFAULT_SERVER may name) is running. Never starts one. When it runs
// and `sampleRate` is given, the server's sample rate is written there.
bool JackServerAnswers(const std::string& serverName = {}, uint32_t* sampleRate = nullptr);

// Whether the ALSA sequencer can be opened for output.
bool AlsaSequencerAnswers();

}  // namespace vocarine
