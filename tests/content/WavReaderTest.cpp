#include <gtest/gtest.h>

#include <filesystem>

#include <cmath>
#include <cstring>

#include "content/ContentTestUtil.h"
#include "content/WavReader.h"

namespace corvane {
namespace {

using test::Bytes;

// A zone that frees its sample like the map does.
struct Zone : SampleZone {
    ~Zone() { freeSampleData(data); }
};

void decode(const Bytes& file, Zone& z) {
    readWavMemory(file.data(), file.size(), z);
}

void expectNoSample(const Zone& z) {
    EXPECT_EQ(z.data, nullptr);
    EXPECT_EQ(z.frameCount, 0);
    EXPECT_EQ(z.bitsPerSample, 24);
}

Bytes frames16(int n, int channels) {
    std::vector<int16_t> s;
    for (int i = 0; i < n * channels; ++i)
        s.push_back(int16_t((i * 7919) % 65536 - 32768));
    return test::pcm16(s);
}

TEST(WavReader, Stereo16BitScalesBy32767AndLeavesSilenceAfterTheEnd) {
    std::vector<int16_t> s(2000);
    for (int i = 0; i < 2000; ++i)
        s[i] = int16_t(i * 33 - 33000);
    s[0] = 32767;
    s[1] = -32768;
    Zone z;
    decode(test::riff({test::fmtChunk(1, 2, 48000, 16), test::chunk("data", test::pcm16(s))}), z);
    ASSERT_NE(z.data, nullptr);
    EXPECT_EQ(z.channels, 2);
    EXPECT_EQ(z.frameCount, 1000);
    EXPECT_EQ(z.sampleRate, 48000.0);
    EXPECT_EQ(z.bitsPerSample, 32);
    EXPECT_EQ(z.data[0], 1.0f);
    EXPECT_LT(z.data[1], -1.0f);
    for (int i = 0; i < 2000; ++i)
        EXPECT_NEAR(z.data[i], s[i] / 32767.0, 1e-7) << i;
    // 4096 zero bytes follow the last sample.
    for (int i = 2000; i < 2000 + 1024; ++i)
        ASSERT_EQ(z.data[i], 0.0f) << i;
}

TEST(WavReader, TwentyFourBitTakesTheTopThreeBytesOfAnInt32) {
    const Bytes data = {0x00, 0x00, 0x80, 0xff, 0xff, 0x7f, 0x01, 0x00, 0x00, 0x56, 0x34, 0x12};
    Zone z;
    decode(test::riff({test::fmtChunk(1, 1, 44100, 24), test::chunk("data", data)}), z);
    ASSERT_NE(z.data, nullptr);
    EXPECT_EQ(z.frameCount, 4);
    EXPECT_EQ(z.data[0], -1.0f);
    EXPECT_EQ(z.data[1], 8388607.0f / 8388608.0f);
    EXPECT_EQ(z.data[2], 1.0f / 8388608.0f);
    EXPECT_EQ(z.data[3], float(0x123456) / 8388608.0f);
    EXPECT_EQ(z.data[4], 0.0f);
}

TEST(WavReader, FloatDataIsCopiedBitForBit) {
    const float values[6] = {0.25f, -0.75f, 1.5f, -2.0f, 1e-20f, -0.0f};
    Bytes data(reinterpret_cast<const uint8_t*>(values),
               reinterpret_cast<const uint8_t*>(values) + sizeof values);
    Zone z;
    decode(test::riff({test::fmtChunk(3, 2, 96000, 32), test::chunk("data", data)}), z);
    ASSERT_NE(z.data, nullptr);
    EXPECT_EQ(z.frameCount, 3);
    EXPECT_EQ(std::memcmp(z.data, values, sizeof values), 0);
    for (int i = 6; i < 6 + 512; ++i)
        ASSERT_EQ(z.data[i], 0.0f);  // 2048 zero bytes
}

TEST(WavReader, UnsupportedFormatsGiveNoSample) {
    const Bytes data(64, 0x11);
    struct Case {
        const char* what;
        Bytes fmt;
    } cases[] = {
        {"32-bit integer", test::fmtChunk(1, 1, 44100, 32)},
        {"8-bit", test::fmtChunk(1, 1, 44100, 8)},
        {"ADPCM", test::fmtChunk(2, 1, 44100, 16)},
        {"no channels", test::fmtChunk(1, 0, 44100, 16)},
        {"extensible A-law", test::extensibleFmtChunk(6, 2, 44100, 16)},
        {"extensible 32-bit integer", test::extensibleFmtChunk(1, 2, 44100, 32)},
    };
    for (const Case& c : cases) {
        Zone z;
        decode(test::riff({c.fmt, test::chunk("data", data)}), z);
        SCOPED_TRACE(c.what);
        expectNoSample(z);
    }
    // An extensible chunk too short to hold the sub-format.
    Bytes shortExt = test::extensibleFmtChunk(1, 1, 44100, 16);
    shortExt[4] = 24;
    Zone z;
    decode(test::riff({shortExt, test::chunk("data", data)}), z);
    expectNoSample(z);
}

TEST(WavReader, ExtensiblePcmAndFloatDecodeLikeThePlainTags) {
    Bytes pcm24;
    for (int i = 0; i < 60; ++i)
        pcm24.push_back(uint8_t(i * 37 + 5));
    const std::pair<Bytes, Bytes> pairs[] = {
        {test::fmtChunk(1, 2, 44100, 24), test::extensibleFmtChunk(1, 2, 44100, 24)},
        {test::fmtChunk(1, 1, 22050, 16), test::extensibleFmtChunk(1, 1, 22050, 16)},
        {test::fmtChunk(3, 2, 48000, 32), test::extensibleFmtChunk(3, 2, 48000, 32)},
    };
    for (const auto& [plain, ext] : pairs) {
        Zone a, b;
        decode(test::riff({plain, test::chunk("data", pcm24)}), a);
        decode(test::riff({ext, test::chunk("data", pcm24)}), b);
        ASSERT_NE(a.data, nullptr);
        ASSERT_NE(b.data, nullptr);
        EXPECT_EQ(a.frameCount, b.frameCount);
        EXPECT_EQ(a.channels, b.channels);
        EXPECT_EQ(a.sampleRate, b.sampleRate);
        EXPECT_EQ(std::memcmp(a.data, b.data, sizeof(float) * a.frameCount * a.channels), 0);
    }
}

TEST(WavReader, DataChunkRunningPastTheEndKeepsTheWholeFramesPresent) {
    // 16-bit stereo: 10 whole frames and 3 stray bytes, the size field claims 4000.
    Bytes payload = frames16(10, 2);
    payload.insert(payload.end(), {0x01, 0x02, 0x03});
    Bytes file = test::riff({test::fmtChunk(1, 2, 44100, 16), test::chunk("data", payload, 4000)});
    Zone z;
    decode(file, z);
    ASSERT_NE(z.data, nullptr);
    EXPECT_EQ(z.frameCount, 10);
    for (int i = 0; i < 20; ++i) {
        const auto s = int16_t(payload[2 * i] | payload[2 * i + 1] << 8);
        EXPECT_NEAR(z.data[i], s / 32767.0, 1e-7);
    }
    EXPECT_EQ(z.data[20], 0.0f);

    // 24-bit mono with the size field near 2^32.
    Bytes p24 = {1, 2, 3, 4, 5, 6, 7, 8};
    Zone y;
    decode(test::riff({test::fmtChunk(1, 1, 44100, 24), test::chunk("data", p24, 0xffffffff)}), y);
    ASSERT_NE(y.data, nullptr);
    EXPECT_EQ(y.frameCount, 2);
    EXPECT_EQ(y.data[1], float(0x060504) / 8388608.0f);
}

TEST(WavReader, RiffSizeLimitsTheWalkButNeverExtendsIt) {
    const Bytes fmt = test::fmtChunk(1, 1, 44100, 16);
    const Bytes data = test::chunk("data", frames16(100, 1));
    // The size field ends the form right after the format chunk: no data is seen.
    Zone a;
    decode(test::riff({fmt, data}, 4 + int64_t(fmt.size())), a);
    expectNoSample(a);
    // It ends in the middle of the data: the data is cut there (40 frames).
    Zone b;
    decode(test::riff({fmt, data}, 4 + int64_t(fmt.size()) + 8 + 80), b);
    EXPECT_EQ(b.frameCount, 40);
    // A size field far beyond the file reads the file as it is.
    Zone c;
    decode(test::riff({fmt, data}, 0xfffffff0), c);
    EXPECT_EQ(c.frameCount, 100);
}

TEST(WavReader, BrokenChainIsRescuedWhenDataSitsAtAnEvenOffset) {
    const Bytes fmt = test::fmtChunk(1, 1, 44100, 16);
    const Bytes samples = frames16(50, 1);
    for (uint32_t badSize : {uint32_t(1000), uint32_t(0xffffffff), uint32_t(0xfffffff8)}) {
        // "junk" claims the wrong size, so the walk never meets "data".
        Bytes file = test::riff(
            {fmt, test::chunk("junk", Bytes(6, 0), badSize), test::chunk("data", samples)});
        Zone z;
        decode(file, z);
        ASSERT_NE(z.data, nullptr) << badSize;
        EXPECT_EQ(z.frameCount, 50);
        EXPECT_NEAR(z.data[49], int16_t(samples[98] | samples[99] << 8) / 32767.0, 1e-7);
    }
    // At an odd offset the scan misses it.
    Bytes odd =
        test::riff({fmt, test::chunk("junk", Bytes(7, 0), 2), test::chunk("data", samples)});
    Zone z;
    decode(odd, z);
    expectNoSample(z);
}

TEST(WavReader, MarkedFilesAreScannedAtEveryByte) {
    const Bytes fmt = test::fmtChunk(1, 1, 44100, 16);
    Bytes tail(16, 0);
    std::memcpy(tail.data(), "srob", 4);
    // "junk" of 7 bytes without its pad byte puts "data" at an odd offset.
    Bytes file =
        test::riff({fmt, test::chunk("junk", Bytes(7, 0), 7), test::chunk("data", frames16(30, 1)),
                    test::smplChunk(1, 2, 20), test::chunk("tail", tail, 8)});
    Zone z;
    decode(file, z);
    ASSERT_NE(z.data, nullptr);
    EXPECT_EQ(z.frameCount, 30);
    EXPECT_EQ(z.loopStart, 2.0);
    EXPECT_EQ(z.loopEnd, 21.0);
    EXPECT_EQ(z.loopMode, 1);

    // A sampler chunk claiming nearly 4 GiB ends the scan instead of turning it around.
    Bytes huge = test::riff({fmt, test::smplChunk(1, 0, 100), test::chunk("data", frames16(4, 1)),
                             test::chunk("tail", tail, 8)});
    huge[12 + fmt.size() + 4] = 0xff;
    huge[12 + fmt.size() + 5] = 0xff;
    huge[12 + fmt.size() + 6] = 0xff;
    huge[12 + fmt.size() + 7] = 0xff;
    Zone h;
    decode(huge, h);
    EXPECT_EQ(h.data, nullptr);
    EXPECT_EQ(h.loopMode, 1);
}

TEST(WavReader, SamplerLoopNeedsMoreThanTenFrames) {
    const Bytes fmt = test::fmtChunk(1, 1, 44100, 16);
    const Bytes data = test::chunk("data", frames16(300, 1));
    Zone shortLoop;  // frames 100..105
    decode(test::riff({fmt, data, test::smplChunk(1, 100, 105)}), shortLoop);
    EXPECT_EQ(shortLoop.loopStart, 100.0);
    EXPECT_EQ(shortLoop.loopEnd, 106.0);
    EXPECT_EQ(shortLoop.loopMode, 0);

    Zone longLoop;  // frames 100..200, chunk before the data
    decode(test::riff({fmt, test::smplChunk(1, 100, 200), data}), longLoop);
    EXPECT_EQ(longLoop.loopStart, 100.0);
    EXPECT_EQ(longLoop.loopEnd, 201.0);
    EXPECT_EQ(longLoop.loopMode, 1);

    Zone none;  // loop count 0
    none.loopEnd = 7.0;
    decode(test::riff({fmt, data, test::smplChunk(0, 100, 200)}), none);
    EXPECT_EQ(none.loopEnd, 7.0);
    EXPECT_EQ(none.loopMode, 0);

    // Cut short by the end of the file: what is missing reads as zero, so no loop.
    Bytes cut = test::riff({fmt, data, test::smplChunk(1, 100, 200)});
    cut.resize(cut.size() - 30);
    Zone c;
    decode(cut, c);
    EXPECT_EQ(c.frameCount, 300);
    EXPECT_EQ(c.loopMode, 0);
}

TEST(WavReader, TruncatedAndForeignFilesGiveNoSample) {
    const Bytes good =
        test::riff({test::fmtChunk(1, 1, 44100, 16), test::chunk("data", frames16(20, 1))});
    for (size_t n : {size_t(0), size_t(12), size_t(31), size_t(36)}) {
        Zone z;
        decode(Bytes(good.begin(), good.begin() + long(n)), z);
        expectNoSample(z);
    }
    // The "data" header is there, its contents are not.
    Zone empty;
    decode(Bytes(good.begin(), good.begin() + 44), empty);
    EXPECT_EQ(empty.frameCount, 0);
    Bytes rifx = good;
    rifx[3] = 'X';
    Zone z;
    decode(rifx, z);
    expectNoSample(z);
}

TEST(WavReader, LaterDataChunkReplacesTheEarlierOne) {
    Zone z;
    decode(test::riff({test::fmtChunk(1, 1, 44100, 16), test::chunk("data", frames16(10, 1)),
                       test::chunk("data", frames16(4, 1))}),
           z);
    EXPECT_EQ(z.frameCount, 4);
}

TEST(WavReader, FileTooLargeToHoldIsRefusedWithoutReadingIt) {
    test::TempDir dir;
    const auto path =
        dir.write("huge.wav", test::riff({test::fmtChunk(1, 1, 44100, 16),
                                          test::chunk("data", Bytes(8, 0), 0xfffffff0)}));
    // A sparse file of 3 GiB: nothing is allocated for it.
    std::error_code ec;
    std::filesystem::resize_file(path, 3ULL << 30, ec);
    ASSERT_FALSE(ec) << ec.message();
    Zone z;
    readWav(std::fopen(path.string().c_str(), "rb"), z);
    expectNoSample(z);
}

}  // namespace
}  // namespace corvane
