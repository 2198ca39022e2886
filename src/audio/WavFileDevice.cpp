#include "audio/WavFileDevice.h"

#include <algorithm>
#include <chrono>
#include <variant>
#include <vector>

namespace vocarine {

WavFileDevice::WavFileDevice(std::string name, std::string path, Options options)
    : name_(std::move(name)), path_(std::move(path)), options_(options)
{
}

WavFileDevice::WavFileDevice(std::string name, WavAudio audio, Options options)
    : name_(std::move(name)), audio_(std::move(audio)), options_(options)
{
}

WavFileDevice::~WavFileDevice()
{
    Close();
}

bool WavFileDevice::Open(SampleRing& ring)
{
    Close();
    ++openCount_;
    lastError_.clear();
    failed_.store(false, std::memory_order_release);
    finished_.store(false, std::memory_order_release);
    delivered_.store(0, std::memory_order_release);
    if (!options_.canOpen) {
        lastError_ = "the device is busy";
        return false;
    }
    if (!path_.empty()) {
        auto read = ReadWavFile(path_);
        if (auto* error = std::get_if<WavError>(&read)) {
            lastError_ = error->message;
            return false;
        }
        audio_ = std::move(std::get<WavAudio>(read));
    }
    if (audio_.sampleRate == 0) {
        lastError_ = "the take has no sample rate";
        return false;
    }
    stop_.store(false, std::memory_order_release);
    player_ = std::thread([this, &ring] { Play(ring); });
    return true;
}

void WavFileDevice::Close()
{
    if (!player_.joinable())
        return;
    stop_.store(true, std::memory_order_release);
    player_.join();
    ++closeCount_;
}

void WavFileDevice::Fail()
{
    failed_.store(true, std::memory_order_release);
}

std::string WavFileDevice::LastError() const
{
    if (Failed())
        return "the device stopped delivering sound";
    return lastError_;
}

void WavFileDevice::Play(SampleRing& ring)
{
    // 5 ms a slice, each due at its own time from the start: a late wake-up
    // catches up instead of stretching the take.
    using Clock = std::chrono::steady_clock;
    const std::size_t slice = std::max<std::size_t>(audio_.sampleRate / 200, 1);
    const auto slicePeriod = std::chrono::duration<double>(static_cast<double>(slice) / audio_.sampleRate);
    const std::vector<float> silence(slice, 0.0f);
    const std::size_t total = audio_.samples.size();
    std::size_t position = 0;
    const auto start = Clock::now();
    for (uint64_t k = 1; !stop_.load(std::memory_order_acquire); ++k) {
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(slicePeriod * k));
        if (failed_.load(std::memory_order_acquire))
            continue;  // an unplugged microphone delivers nothing
        if (position >= total && options_.loop && total > 0)
            position = 0;
        if (position < total) {
            const std::size_t n = std::min(slice, total - position);
            ring.Push(audio_.samples.data() + position, n);
            if (n < slice)
                ring.Push(silence.data(), slice - n);
            position += n;
            delivered_.fetch_add(n, std::memory_order_acq_rel);
            if (position >= total)
                finished_.store(true, std::memory_order_release);
        } else {
            ring.Push(silence.data(), slice);
        }
    }
}

}  // namespace vocarine
