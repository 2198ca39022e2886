// What the layer needs to know about the system's sound and MIDI libraries
// before it touches them: whether a backend answers at all, asked in a way
// that prints nothing and starts nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct _jack_client;  // jack_client_t

namespace vocarine {

// Routes the log and error output of FluidSynth, JACK and ALSA to nowhere.
// Safe to call more than once; the first call does the work.
void SilenceSoundLibraries();

// Whether a JACK server with this name (empty: the default server, which
// JACK_DEFAULT_SERVER may name) is running. Never starts one. When it runs
// and `sampleRate` is given, the server's sample rate is written there.
bool JackServerAnswers(const std::string& serverName = {}, uint32_t* sampleRate = nullptr);

// Counts the default JACK server's process cycles with a client of its own.
// A message handed to a JACK port goes out in a later cycle, and a new
// connection takes effect in a later cycle: waiting for whole cycles, not for
// a guessed time, is what makes sure either has happened.
class JackCycleCounter {
public:
    JackCycleCounter();  // not Ok() when no server answers; never starts one
    ~JackCycleCounter();
    JackCycleCounter(const JackCycleCounter&) = delete;
    JackCycleCounter& operator=(const JackCycleCounter&) = delete;

    bool Ok() const { return client_ != nullptr; }
    // Returns once `cycles` whole cycles have begun after the call, or when
    // the time is up (a stalled server must not hang the program). Without
    // its client (not Ok) it waits as long by the clock, taking the server's
    // period when it can learn it, and a long period when it cannot.
    bool WaitCycles(int cycles, std::chrono::milliseconds timeout) const;

    // The length of one cycle that a wait by the clock takes.
    std::chrono::microseconds Period() const { return period_; }

    // Tests: while true, no counter opens its client.
    static void RefuseClientForTesting(bool refuse);

    // A period as long as JACK servers commonly run (2048 frames at 44.1 kHz).
    static constexpr std::chrono::microseconds LongPeriod{46440};

private:
    static int Process(uint32_t frames, void* self);

    ::_jack_client* client_ = nullptr;
    std::atomic<uint64_t> count_{0};
    std::chrono::microseconds period_{LongPeriod};
};

// Lowers the calling thread's scheduling priority for good (only that
// thread's, and the threads it starts afterwards). Start-up work done on a
// worker (loading the soundfont, listing ports) then never takes the
// processor from the window's thread while that builds and paints the window.
void YieldToTheWindow();

// Start-up work that runs on workers (the synthesizer's audio output and
// soundfont, the list of the system's MIDI ports) can be held until the
// window is on the screen: on a machine with two processors it would take
// one from the window or the X server just while the window is shown. Not
// held unless the program asks; a release lets everything held go on. Who
// needs the result at once (a wait for the port list or for the soundfont)
// releases the hold first, so nothing can wait on a held worker.
void HoldStartupWork();
void ReleaseStartupWork();
// Workers call this first: returns once the work is not held.
void WaitForStartupWork();

// The JACK MIDI ports that take MIDI in, by full name ("client:port"), in the
// server's order, as RtMidi lists them; nullopt when no server answers.
// Asked with one client that is never activated, which costs the server
// little: RtMidi's own listing activates a client of its own.
std::optional<std::vector<std::string>> JackMidiInputPorts();

// Whether the ALSA sequencer can be opened for output.
bool AlsaSequencerAnswers();

}  // namespace vocarine
