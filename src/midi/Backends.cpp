#include "midi/Backends.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>
#include <jack/jack.h>

#include <mutex>

namespace vocarine {

namespace {

void DiscardJackMessage(const char*) {}

void DiscardAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

void DiscardFluidMessage(int, const char*, void*) {}

}  // namespace

void SilenceSoundLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(DiscardJackMessage);
        jack_set_info_function(DiscardJackMessage);
        snd_lib_error_set_handler(DiscardAlsaMessage);
        for (int level = 0; level < LAST_LOG_LEVEL; ++level)
            fluid_set_log_function(level, DiscardFluidMessage, nullptr);
    });
}

bool JackServerAnswers(const std::string& serverName, uint32_t* sampleRate)
{
    SilenceSoundLibraries();
    // JackNoStartServer: asking must never bring up a server of our own.
    const int options = JackNoStartServer | (serverName.empty() ? 0 : JackServerName);
    jack_status_t status{};
    jack_client_t* client = serverName.empty()
        ? jack_client_open("vocarine-probe", static_cast<jack_options_t>(options), &status)
        : jack_client_open("vocarine-probe", static_cast<jack_options_t>(options), &status, serverName.c_str());
    if (client == nullptr)
        return false;
    if (sampleRate != nullptr)
        *sampleRate = jack_get_sample_rate(client);
    jack_client_close(client);
    return true;
}

bool AlsaSequencerAnswers()
{
    SilenceSoundLibraries();
    snd_seq_t* sequencer = nullptr;
    if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0)
        return false;
    snd_seq_close(sequencer);
    return true;
}

}  // namespace vocarine
