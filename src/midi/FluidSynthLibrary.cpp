#include "midi/FluidSynthLibrary.h"

#include <dlfcn.h>

#include <mutex>

namespace vocarine {

namespace {

void DiscardFluidMessage(int, const char*, void*) {}

struct Loaded {
    FluidSynthApi api{};
    bool ok = false;
    std::string error;
};

template <typename Function>
bool Resolve(void* library, const char* name, Function& function, std::string& error)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (function == nullptr && error.empty())
        error = std::string("FluidSynth lacks ") + name;
    return function != nullptr;
}

Loaded Load()
{
    Loaded loaded;
    void* library = dlopen(VOCARINE_FLUIDSYNTH_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        loaded.error = std::string("FluidSynth could not be loaded") + (why != nullptr ? std::string(": ") + why : "");
        return loaded;
    }
    FluidSynthApi& f = loaded.api;
    std::string& e = loaded.error;
    bool ok = true;
#define VOCARINE_RESOLVE(name) ok = Resolve(library, #name, f.name, e) && ok
    VOCARINE_RESOLVE(new_fluid_settings);
    VOCARINE_RESOLVE(delete_fluid_settings);
    VOCARINE_RESOLVE(fluid_settings_setint);
    VOCARINE_RESOLVE(fluid_settings_setnum);
    VOCARINE_RESOLVE(fluid_settings_setstr);
    VOCARINE_RESOLVE(fluid_settings_dupstr);
    VOCARINE_RESOLVE(fluid_free);
    VOCARINE_RESOLVE(fluid_set_log_function);
    VOCARINE_RESOLVE(new_fluid_synth);
    VOCARINE_RESOLVE(delete_fluid_synth);
    VOCARINE_RESOLVE(fluid_synth_sfload);
    VOCARINE_RESOLVE(fluid_synth_noteon);
    VOCARINE_RESOLVE(fluid_synth_noteoff);
    VOCARINE_RESOLVE(fluid_synth_cc);
    VOCARINE_RESOLVE(fluid_synth_all_notes_off);
    VOCARINE_RESOLVE(fluid_synth_process);
    VOCARINE_RESOLVE(new_fluid_audio_driver2);
    VOCARINE_RESOLVE(delete_fluid_audio_driver);
#undef VOCARINE_RESOLVE
    if (!ok)
        return loaded;  // the library stays loaded: it is never unloaded
    for (int level = 0; level < LAST_LOG_LEVEL; ++level)
        f.fluid_set_log_function(level, DiscardFluidMessage, nullptr);
    loaded.ok = true;
    return loaded;
}

const Loaded& Library()
{
    static const Loaded loaded = Load();  // once, and thread-safe
    return loaded;
}

}  // namespace

const FluidSynthApi* FluidSynth()
{
    return Library().ok ? &Library().api : nullptr;
}

std::string FluidSynthError()
{
    return Library().error;
}

}  // namespace vocarine
