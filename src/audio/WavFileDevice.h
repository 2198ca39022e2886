// An input that plays a recorded take into the ring in real time, as a
// microphone would deliver it: for tests, benchmarks and demonstrations.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "audio/AudioInput.h"
#include "audio/WavFile.h"

namespace vocarine {

class WavFileDevice : public AudioDevice {
public:
    struct Options {
        bool canOpen = true;       // false: every open fails, as a busy device's does
        bool isDefault = false;    // counts as the desktop's default input
        bool loop = false;         // starts the take again at its end; else silence follows
    };

    // Reads `path` at every open; a file that cannot be read fails the open
    // and LastError() names the file and what is wrong.
    WavFileDevice(std::string name, std::string path, Options options);
    WavFileDevice(std::string name, std::string path) : WavFileDevice(std::move(name), std::move(path), Options{}) {}
    // Plays samples held in memory.
    WavFileDevice(std::string name, WavAudio audio, Options options);
    WavFileDevice(std::string name, WavAudio audio) : WavFileDevice(std::move(name), std::move(audio), Options{}) {}
    ~WavFileDevice() override;

    std::string Name() const override { return name_; }
    bool Open(SampleRing& ring) override;
    void Close() override;
    bool IsOpen() const override { return player_.joinable(); }
    uint32_t SampleRate() const override { return audio_.sampleRate; }
    bool Failed() const override { return failed_.load(std::memory_order_acquire); }
    std::string LastError() const override;
    bool IsDefaultInput() const override { return options_.isDefault; }

    // Stops delivering as an unplugged microphone does: Failed() turns true.
    void Fail();
    void SetCanOpen(bool canOpen) { options_.canOpen = canOpen; }

    // Samples of the take delivered since the open (the silence after it not counted).
    std::size_t Delivered() const { return delivered_.load(std::memory_order_acquire); }
    // The whole take has been delivered once.
    bool Finished() const { return finished_.load(std::memory_order_acquire); }
    int OpenCount() const { return openCount_; }
    int CloseCount() const { return closeCount_; }

private:
    void Play(SampleRing& ring);

    std::string name_;
    std::string path_;  // empty: the samples were given
    WavAudio audio_;
    Options options_;
    std::thread player_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> finished_{false};
    std::atomic<std::size_t> delivered_{0};
    std::string lastError_;
    int openCount_ = 0;
    int closeCount_ = 0;
};

}  // namespace vocarine
