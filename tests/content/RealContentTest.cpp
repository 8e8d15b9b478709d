// The CC0 body-percussion instrument: CRLF SFZ files with ../ sample paths, 32-bit float
// handclaps and 24-bit extensible stomps, all stereo.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "content/ContentTestUtil.h"
#include "engine/EngineTestSupport.h"
#include "engine/Harrow.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

const fs::path kInstrument = fs::path(CORVANE_SHARED_DIR) / "content" / "body-percussion";

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The sample names of the regions, in file order.
std::vector<std::string> sampleNames(const std::string& sfz) {
    std::vector<std::string> names;
    for (size_t at = sfz.find("sample="); at != std::string::npos;
         at = sfz.find("sample=", at + 1)) {
        const size_t end = sfz.find_first_of("\r\n", at);
        names.push_back(sfz.substr(at + 7, end - at - 7));
    }
    return names;
}

uint32_t le32(const std::string& b, size_t i) {
    uint32_t v = 0;
    for (int k = 3; k >= 0; --k)
        v = v << 8 | uint8_t(b[i + k]);
    return v;
}

struct WavFacts {
    int bits = 0;
    int channels = 0;
    std::string data;
};

// Walks the chunk chain of a well-formed file.
WavFacts facts(const fs::path& p) {
    const std::string b = readText(p);
    WavFacts f;
    for (size_t at = 12; at + 8 <= b.size(); at += 8 + ((le32(b, at + 4) + 1) & ~1u)) {
        const std::string id = b.substr(at, 4);
        if (id == "fmt ") {
            f.channels = uint8_t(b[at + 10]);
            f.bits = uint8_t(b[at + 22]);
        } else if (id == "data") {
            f.data = b.substr(at + 8, le32(b, at + 4));
        }
    }
    return f;
}

void expectInstrumentDecoded(const char* program, int bits) {
    const fs::path sfz = kInstrument / "Programs" / program;
    if (!fs::exists(sfz)) GTEST_SKIP() << "no shared content at " << kInstrument;
    const std::vector<std::string> names = sampleNames(readText(sfz));
    ASSERT_EQ(names.size(), 24u);

    Harrow h;
    test::MessageCapture messages;
    h.loadFromPath(test::stored(sfz).c_str());
    EXPECT_TRUE(messages.messages.empty());
    ASSERT_EQ(h.map.zoneCount, 24);
    for (int i = 0; i < 24; ++i) {
        SCOPED_TRACE(names[i]);
        const SampleZone& z = h.map.zones[i];
        const WavFacts f = facts(kInstrument / "Programs" / names[i]);
        ASSERT_EQ(f.bits, bits);
        ASSERT_EQ(f.channels, 2);
        ASSERT_NE(z.data, nullptr);
        EXPECT_EQ(z.channels, 2);
        EXPECT_EQ(z.sampleRate, 44100.0);
        EXPECT_EQ(z.bitsPerSample, 32);
        const size_t samples = f.data.size() / (bits / 8);
        ASSERT_EQ(size_t(z.frameCount), samples / 2);
        if (bits == 32) {
            EXPECT_EQ(std::memcmp(z.data, f.data.data(), samples * 4), 0);
        } else {
            size_t wrong = 0;
            for (size_t s = 0; s < samples; ++s) {
                int32_t v = uint8_t(f.data[3 * s]) | uint8_t(f.data[3 * s + 1]) << 8 |
                            uint8_t(f.data[3 * s + 2]) << 16;
                if (v & 0x800000) v -= 0x1000000;
                wrong += z.data[s] != float(v) / 8388608.0f;
            }
            EXPECT_EQ(wrong, 0u);
        }
        EXPECT_EQ(z.data[samples], 0.0f);
        EXPECT_EQ(z.data[samples + 511], 0.0f);
        // The quiet layer ends at velocity 63, the loud one starts at 64.
        const bool quiet = names[i].find("_vl1_") != std::string::npos;
        EXPECT_EQ(z.loVel, quiet ? 0 : 64);
        EXPECT_EQ(z.hiVel, quiet ? 63 : 127);
        EXPECT_EQ(z.loKey, 0);
        EXPECT_EQ(z.hiKey, 127);
    }
    // Soft notes take the last quiet region, loud ones the last region.
    const SampleZone* soft = h.map.findZone(60, 40);
    ASSERT_NE(soft, nullptr);
    EXPECT_NE(names[soft - h.map.zones].find("_vl1_"), std::string::npos);
    EXPECT_EQ(h.map.findZone(60, 100), &h.map.zones[23]);
}

TEST(RealContent, HandclapsDecodeEveryFloatSampleExactly) {
    expectInstrumentDecoded("body_handclap.sfz", 32);
}

TEST(RealContent, StompsDecodeEveryExtensible24BitSampleExactly) {
    expectInstrumentDecoded("body_stomp_l.sfz", 24);
}

using RealContentPlayback = test::EngineTest;

// At its root key and at the engine's rate a sample plays back as it is, times the voice
// output factor 0.2 and the zone gain (1 here); the amplitude envelope holds at full level
// to within 1e-5.
TEST_F(RealContentPlayback, StompAtItsRootKeyPlaysTheFileSamples) {
    const fs::path sfz = kInstrument / "Programs" / "body_stomp_l.sfz";
    if (!fs::exists(sfz)) GTEST_SKIP() << "no shared content at " << kInstrument;
    engine->loadFromPath(test::stored(sfz).c_str());
    ASSERT_EQ(engine->map.zoneCount, 24);
    // Velocity 64 selects the loud layer's last region.
    const std::vector<std::string> names = sampleNames(readText(sfz));
    const WavFacts f = facts(kInstrument / "Programs" / names[23]);
    engine->noteOn(60, 64);
    constexpr int kFrames = 2048;
    render(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        for (int ch = 0; ch < 2; ++ch) {
            const size_t s = 3 * (2 * size_t(i) + ch);
            int32_t v =
                uint8_t(f.data[s]) | uint8_t(f.data[s + 1]) << 8 | uint8_t(f.data[s + 2]) << 16;
            if (v & 0x800000) v -= 0x1000000;
            const double expected = 0.2 * v / 8388608.0;
            const float got = ch == 0 ? fxL[i] : fxR[i];
            ASSERT_NEAR(got, expected, 1e-5 * std::fabs(expected) + 1e-7) << i << " " << ch;
        }
    }
}

}  // namespace
}  // namespace corvane
