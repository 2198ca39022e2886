#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ListenTestSupport.h"
#include "audio/WavFile.h"

namespace vocarine {
namespace {

using testing::Scratch;

void Put16(std::string& s, uint16_t v)
{
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
}
void Put32(std::string& s, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

// A WAV file made byte by byte: format code, channels, rate, bits, the sample
// bytes, and optionally a chunk the reader must skip before the data.
std::string MakeWav(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits, const std::string& data,
                    bool extraChunk = false, int64_t statedDataSize = -1)
{
    std::string body = "WAVE";
    body += "fmt ";
    Put32(body, 16);
    Put16(body, format);
    Put16(body, channels);
    Put32(body, rate);
    Put32(body, rate * channels * bits / 8);
    Put16(body, static_cast<uint16_t>(channels * bits / 8));
    Put16(body, bits);
    if (extraChunk) {
        body += "LIST";
        Put32(body, 5);  // odd: padded to 6
        body += "INFOx";
        body.push_back('\0');
    }
    body += "data";
    Put32(body, statedDataSize >= 0 ? static_cast<uint32_t>(statedDataSize) : static_cast<uint32_t>(data.size()));
    body += data;
    std::string file = "RIFF";
    Put32(file, static_cast<uint32_t>(body.size()));
    return file + body;
}

std::string Int16s(const std::vector<int16_t>& v)
{
    std::string s;
    for (int16_t x : v) {
        Put16(s, static_cast<uint16_t>(x));
    }
    return s;
}

std::string Floats(const std::vector<float>& v)
{
    std::string s;
    for (float x : v) {
        uint32_t raw;
        std::memcpy(&raw, &x, 4);
        Put32(s, raw);
    }
    return s;
}

TEST(WavFile, ReadsSixteenBitAndFloatMonoAndStereo)
{
    Scratch scratch;
    const struct {
        const char* name;
        std::string bytes;
        uint32_t rate;
        std::vector<float> samples;
    } cases[] = {
        {"int16 mono", MakeWav(1, 1, 44100, 16, Int16s({0, 16384, -32768, 32767})), 44100,
         {0.0f, 0.5f, -1.0f, 32767.0f / 32768.0f}},
        {"int16 stereo mixed down", MakeWav(1, 2, 48000, 16, Int16s({16384, 0, -16384, -16384})), 48000,
         {0.25f, -0.5f}},
        {"float mono with a chunk before the data", MakeWav(3, 1, 22050, 32, Floats({0.25f, -0.75f}), true), 22050,
         {0.25f, -0.75f}},
        {"float stereo", MakeWav(3, 2, 96000, 32, Floats({0.5f, 0.25f, -1.0f, 1.0f})), 96000, {0.375f, 0.0f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = ReadWavFile(scratch.Write("take.wav", c.bytes));
        ASSERT_TRUE(std::holds_alternative<WavAudio>(result)) << std::get<WavError>(result).message;
        const WavAudio& audio = std::get<WavAudio>(result);
        EXPECT_EQ(audio.sampleRate, c.rate);
        ASSERT_EQ(audio.samples.size(), c.samples.size());
        for (std::size_t i = 0; i < c.samples.size(); ++i) {
            EXPECT_FLOAT_EQ(audio.samples[i], c.samples[i]) << "sample " << i;
        }
    }
}

TEST(WavFile, WrittenFloatFilesReadBackExactly)
{
    Scratch scratch;
    WavAudio audio;
    audio.sampleRate = 44100;
    for (int i = 0; i < 1000; ++i) {
        audio.samples.push_back(static_cast<float>(i % 200) / 100.0f - 1.0f);
    }
    const std::string path = scratch.PathOf("out.wav");
    ASSERT_TRUE(WriteWavFile(path, audio));
    const auto result = ReadWavFile(path);
    ASSERT_TRUE(std::holds_alternative<WavAudio>(result)) << std::get<WavError>(result).message;
    EXPECT_EQ(std::get<WavAudio>(result).sampleRate, 44100u);
    EXPECT_EQ(std::get<WavAudio>(result).samples, audio.samples);
    EXPECT_FALSE(WriteWavFile(scratch.PathOf("no-such-folder/out.wav"), audio));
}

TEST(WavFile, RefusesWhatItCannotReadNamingTheFileAndTheFault)
{
    Scratch scratch;
    const std::string good = MakeWav(1, 1, 44100, 16, Int16s({1, 2, 3, 4}));
    const struct {
        const char* name;
        std::string bytes;
        const char* says;
    } cases[] = {
        {"text.wav", "this is not a sound file at all", "no RIFF header"},
        {"empty.wav", "", "no RIFF header"},
        {"aiff.wav", "FORM\x10\0\0\0AIFF", "no RIFF header"},
        {"cut-header.wav", good.substr(0, 30), "truncated"},
        {"cut-data.wav", good.substr(0, good.size() - 3), "truncated"},
        {"no-data.wav", good.substr(0, 36), "no sound data"},
        {"24bit.wav", MakeWav(1, 1, 44100, 24, std::string(6, '\0')), "unsupported sample format"},
        {"8bit.wav", MakeWav(1, 1, 8000, 8, std::string(4, '\0')), "unsupported sample format"},
        {"adpcm.wav", MakeWav(2, 1, 44100, 4, std::string(4, '\0')), "unsupported sample format"},
        {"float64.wav", MakeWav(3, 1, 44100, 64, std::string(16, '\0')), "unsupported sample format"},
        {"surround.wav", MakeWav(1, 6, 44100, 16, std::string(24, '\0')), "channel count 6"},
        {"rate.wav", MakeWav(1, 1, 0, 16, std::string(4, '\0')), "sample rate"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = scratch.Write(c.name, c.bytes);
        const auto result = ReadWavFile(path);
        ASSERT_TRUE(std::holds_alternative<WavError>(result));
        const std::string& message = std::get<WavError>(result).message;
        EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
    }
    const std::string missing = scratch.PathOf("missing.wav");
    const auto result = ReadWavFile(missing);
    ASSERT_TRUE(std::holds_alternative<WavError>(result));
    EXPECT_NE(std::get<WavError>(result).message.find(missing + ": cannot open"), std::string::npos);
}

}  // namespace
}  // namespace vocarine
