// Reading WAV files: 16-bit integer or 32-bit float PCM, mono or stereo, at
// any common rate. Stereo is mixed down to mono.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace vocarine {

struct WavAudio {
    uint32_t sampleRate = 0;
    std::vector<float> samples;  // mono, -1..1
};

// Why a file could not be read, in words for the user:
// "take.wav: not a WAV file (no RIFF header)".
struct WavError {
    std::string message;
};

std::variant<WavAudio, WavError> ReadWavFile(const std::string& path);

// Writes mono 32-bit float PCM; returns false when the file cannot be written.
bool WriteWavFile(const std::string& path, const WavAudio& audio);

}  // namespace vocarine
