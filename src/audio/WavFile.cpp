#include "audio/WavFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vocarine {
namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void PutU16(std::string& s, uint16_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
}
void PutU32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

WavError Fail(const std::string& path, const std::string& what) { return WavError{path + ": " + what}; }

}  // namespace

std::variant<WavAudio, WavError> ReadWavFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail(path, "cannot open the file (" + std::string(std::strerror(errno)) + ")");
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return Fail(path, "cannot read the file");
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0)
        return Fail(path, "not a WAV file (no RIFF header)");

    bool haveFormat = false;
    uint16_t format = 0, channels = 0, bits = 0, blockAlign = 0;
    uint32_t rate = 0;
    const unsigned char* pcm = nullptr;
    std::size_t pcmBytes = 0;
    bool truncated = false;
    std::size_t pos = 12;
    while (pos + 8 <= size) {
        const unsigned char* chunk = data + pos;
        const uint32_t chunkSize = U32(chunk + 4);
        const std::size_t body = pos + 8;
        const std::size_t available = size - body;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (chunkSize < 16 || available < 16) return Fail(path, "truncated or malformed format chunk");
            format = U16(data + body);
            channels = U16(data + body + 2);
            rate = U32(data + body + 4);
            blockAlign = U16(data + body + 12);
            bits = U16(data + body + 14);
            if (format == kFormatExtensible) {
                if (chunkSize < 40 || available < 40) return Fail(path, "truncated or malformed format chunk");
                // The first two bytes of the sub-format GUID carry the plain format code.
                format = U16(data + body + 24);
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            pcm = data + body;
            pcmBytes = chunkSize;
            if (pcmBytes > available) {
                truncated = true;
                pcmBytes = available;
            }
            if (haveFormat) break;
        }
        if (chunkSize > available) break;
        pos = body + chunkSize + (chunkSize & 1u);
    }
    if (!haveFormat) return Fail(path, "no format chunk (truncated or not a WAV file)");
    if (!pcm) return Fail(path, "no sound data (truncated file)");
    if (truncated) return Fail(path, "truncated: the sound data ends before its stated length");

    const bool int16 = format == kFormatPcm && bits == 16;
    const bool float32 = format == kFormatFloat && bits == 32;
    if (!int16 && !float32) {
        return Fail(path, "unsupported sample format (format " + std::to_string(format) + ", " +
                              std::to_string(bits) + " bits); 16-bit integer or 32-bit float PCM is read");
    }
    if (channels != 1 && channels != 2)
        return Fail(path, "unsupported channel count " + std::to_string(channels) + "; mono or stereo is read");
    if (rate < 8000 || rate > 192000)
        return Fail(path, "unsupported sample rate " + std::to_string(rate) + " Hz");
    const std::size_t frameBytes = static_cast<std::size_t>(channels) * (bits / 8);
    if (blockAlign != frameBytes) return Fail(path, "malformed format chunk (block size does not match)");

    WavAudio audio;
    audio.sampleRate = rate;
    const std::size_t frames = pcmBytes / frameBytes;
    audio.samples.resize(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        const unsigned char* p = pcm + f * frameBytes;
        float sum = 0.0f;
        for (uint16_t c = 0; c < channels; ++c) {
            if (int16) {
                sum += static_cast<float>(static_cast<int16_t>(U16(p + 2 * c))) / 32768.0f;
            } else {
                const uint32_t raw = U32(p + 4 * c);
                float v;
                std::memcpy(&v, &raw, sizeof v);
                sum += v;
            }
        }
        audio.samples[f] = sum / static_cast<float>(channels);
    }
    return audio;
}

bool WriteWavFile(const std::string& path, const WavAudio& audio) {
    const uint64_t dataBytes = static_cast<uint64_t>(audio.samples.size()) * 4;
    if (dataBytes > 0xFFFFFFFFull - 64) return false;
    // A float format chunk carries its extension size (0) and a fact chunk the frame count.
    std::string header;
    header += "RIFF";
    PutU32(header, static_cast<uint32_t>(4 + (8 + 18) + (8 + 4) + 8 + dataBytes));
    header += "WAVE";
    header += "fmt ";
    PutU32(header, 18);
    PutU16(header, kFormatFloat);
    PutU16(header, 1);
    PutU32(header, audio.sampleRate);
    PutU32(header, audio.sampleRate * 4);
    PutU16(header, 4);
    PutU16(header, 32);
    PutU16(header, 0);
    header += "fact";
    PutU32(header, 4);
    PutU32(header, static_cast<uint32_t>(audio.samples.size()));
    header += "data";
    PutU32(header, static_cast<uint32_t>(dataBytes));

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    for (float v : audio.samples) {
        uint32_t raw;
        std::memcpy(&raw, &v, sizeof raw);
        char b[4] = {static_cast<char>(raw & 0xFF), static_cast<char>((raw >> 8) & 0xFF),
                     static_cast<char>((raw >> 16) & 0xFF), static_cast<char>(raw >> 24)};
        out.write(b, 4);
    }
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace vocarine
