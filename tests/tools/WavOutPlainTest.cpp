// The render tool's own WAV writer (the one the Windows build uses), read back byte by byte.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "WavOut.h"
#include "common/Scratch.h"

namespace corvane::render {
namespace {

std::vector<uint8_t> readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t u16(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}
std::string id(const std::vector<uint8_t>& b, size_t at) {
    return std::string(reinterpret_cast<const char*>(&b[at]), 4);
}

struct Scratch {
    std::filesystem::path root = test::makeScratchFolder("corvane-wavout");
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

TEST(WavOutPlain, FloatFilesKeepEveryBitAndCountTheirFrames) {
    Scratch s;
    const std::string path = (s.root / "f.wav").string();
    std::string error;
    auto out = openWavOut(path, 48000, SampleFormat::Float32, &error);
    ASSERT_TRUE(out) << error;
    const float a[] = {0.25f, -0.5f, 1.5f, -1e-30f};
    const float b[] = {0.125f, 3.0f};
    ASSERT_TRUE(out->write(a, 2));
    ASSERT_TRUE(out->write(b, 1));
    ASSERT_TRUE(out->close());

    const auto f = readAll(path);
    // RIFF, fmt (18 bytes), fact, data: 12 + 26 + 12 + 8 header bytes, 3 frames of 8 bytes.
    ASSERT_EQ(f.size(), 58u + 24u);
    EXPECT_EQ(id(f, 0), "RIFF");
    EXPECT_EQ(u32(f, 4), f.size() - 8);
    EXPECT_EQ(id(f, 8), "WAVE");
    EXPECT_EQ(id(f, 12), "fmt ");
    EXPECT_EQ(u32(f, 16), 18u);
    EXPECT_EQ(u16(f, 20), 3);  // IEEE float
    EXPECT_EQ(u16(f, 22), 2);  // stereo
    EXPECT_EQ(u32(f, 24), 48000u);
    EXPECT_EQ(u32(f, 28), 48000u * 8);
    EXPECT_EQ(u16(f, 32), 8);
    EXPECT_EQ(u16(f, 34), 32);
    EXPECT_EQ(id(f, 38), "fact");
    EXPECT_EQ(u32(f, 46), 3u);
    EXPECT_EQ(id(f, 50), "data");
    EXPECT_EQ(u32(f, 54), 24u);
    const float expected[] = {0.25f, -0.5f, 1.5f, -1e-30f, 0.125f, 3.0f};
    for (int i = 0; i < 6; ++i) {
        float v;
        std::memcpy(&v, &f[58 + 4 * i], 4);
        EXPECT_EQ(v, expected[i]) << i;  // no clipping, no rounding
    }
}

TEST(WavOutPlain, PcmFilesRoundAndClip) {
    Scratch s;
    const float in[] = {0.5f, -0.5f, 1.25f, -3.0f, std::numeric_limits<float>::quiet_NaN(), 0.0f};
    for (SampleFormat format : {SampleFormat::Pcm16, SampleFormat::Pcm24}) {
        const bool is24 = format == SampleFormat::Pcm24;
        SCOPED_TRACE(is24 ? "pcm24" : "pcm16");
        const std::string path = (s.root / (is24 ? "p24.wav" : "p16.wav")).string();
        std::string error;
        auto out = openWavOut(path, 44100, format, &error);
        ASSERT_TRUE(out) << error;
        ASSERT_TRUE(out->write(in, 3));
        ASSERT_TRUE(out->close());
        const auto f = readAll(path);
        const size_t width = is24 ? 3 : 2;
        ASSERT_EQ(f.size(), 44u + 6 * width);
        EXPECT_EQ(u32(f, 16), 16u);
        EXPECT_EQ(u16(f, 20), 1);  // PCM
        EXPECT_EQ(u16(f, 34), 8 * width);
        EXPECT_EQ(id(f, 36), "data");
        EXPECT_EQ(u32(f, 40), 6 * width);
        const int32_t full = is24 ? 8388607 : 32767;
        // Half scale lies between two steps and rounds to the even one (16383.5 -> 16384,
        // 4194303.5 -> 4194304); beyond full scale clips; NaN writes silence.
        const int32_t half = is24 ? 4194304 : 16384;
        const int32_t want[] = {half, -half, full, -full, 0, 0};
        for (int i = 0; i < 6; ++i) {
            int32_t v = is24
                            ? int32_t(uint32_t(f[44 + 3 * i]) << 8 | uint32_t(f[45 + 3 * i]) << 16 |
                                      uint32_t(f[46 + 3 * i]) << 24) >>
                                  8
                            : int16_t(u16(f, 44 + 2 * i));
            EXPECT_EQ(v, want[i]) << i;
        }
    }
}

TEST(WavOutPlain, AFolderThatIsNotThereIsAnError) {
    Scratch s;
    std::string error;
    EXPECT_FALSE(
        openWavOut((s.root / "none" / "x.wav").string(), 44100, SampleFormat::Float32, &error));
    EXPECT_NE(error.find("cannot write"), std::string::npos);
    EXPECT_FALSE(openWavOut((s.root / "y.wav").string(), 0, SampleFormat::Pcm16, &error));
}

}  // namespace
}  // namespace corvane::render
