// A JACK server with the dummy driver for a benchmark run: the one that
// JACK_DEFAULT_SERVER names when it answers, else a private one started (and
// stopped again) with scripts/jack-test-server.sh.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "midi/Backends.h"

class PrivateJackServer {
public:
    explicit PrivateJackServer(const std::string& script)
    {
        if (const char* named = std::getenv("JACK_DEFAULT_SERVER"); named != nullptr && vocarine::JackServerAnswers(named)) {
            name_ = named;
            return;
        }
        name_ = "vocarine-bench-" + std::to_string(::getpid());
        state_ = (std::filesystem::temp_directory_path() / name_).string();
        const std::string start = "'" + script + "' start " + name_ + " '" + state_ + "' >/dev/null";
        if (std::system(start.c_str()) != 0) {
            name_.clear();
            return;
        }
        started_ = true;
        ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        script_ = script;
    }

    ~PrivateJackServer()
    {
        if (!started_)
            return;
        const std::string stop = "'" + script_ + "' stop " + name_ + " '" + state_ + "' >/dev/null";
        [[maybe_unused]] const int ignored = std::system(stop.c_str());
        std::error_code error;
        std::filesystem::remove_all(state_, error);
    }

    PrivateJackServer(const PrivateJackServer&) = delete;
    PrivateJackServer& operator=(const PrivateJackServer&) = delete;

    bool Running() const { return !name_.empty(); }
    const std::string& Name() const { return name_; }
    bool StartedHere() const { return started_; }

private:
    std::string name_;
    std::string state_;
    std::string script_;
    bool started_ = false;
};
