// MIDI that a host sends to Corvane.so, heard in the output: a sine instrument is loaded
// into the current program through a program chunk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FakeHost.h"
#include "TestHost.h"

using corvane::testhost::MidiMessage;
using corvane::testhost::Plugin;
namespace fs = std::filesystem;

namespace {

constexpr double kRate = 44100.0;
constexpr double kToneHz = 441.0;  // the sample's pitch when played at its root key, 60

void put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// Four seconds of a 16-bit mono sine.
std::vector<uint8_t> sineWav() {
    const int frames = 4 * 44100;
    std::vector<uint8_t> b;
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    put32(b, 36 + frames * 2);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(b, 16);
    put16(b, 1);
    put16(b, 1);
    put32(b, 44100);
    put32(b, 44100 * 2);
    put16(b, 2);
    put16(b, 16);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    put32(b, frames * 2);
    for (int i = 0; i < frames; ++i)
        put16(b, uint16_t(int16_t(std::lround(16000 * std::sin(2 * M_PI * kToneHz * i / kRate)))));
    return b;
}

class SineInstrument {
  public:
    SineInstrument() {
        char name[128];
        std::snprintf(name, sizeof name, "corvane_sound_%d_%s", static_cast<int>(::getpid()),
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        dir_ = fs::temp_directory_path() / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const auto wav = sineWav();
        std::ofstream(dir_ / "sine.wav", std::ios::binary)
            .write(reinterpret_cast<const char*>(wav.data()), wav.size());
        std::ofstream(dir_ / "sine.sfz") << "<region>sample=sine.wav pitch_keycenter=60\n";
    }
    ~SineInstrument() { fs::remove_all(dir_); }

    // Names the instrument in the record of a program chunk.
    void placeIn(std::vector<uint8_t>& chunk) const {
        std::string folder = dir_.string() + "/";
        for (char& c : folder)
            if (c == '/') c = '\\';
        char* record = reinterpret_cast<char*>(chunk.data() + 40);
        std::snprintf(record + 11560, 1000, "%s", folder.c_str());
        std::snprintf(record + 12560, 220, "sine.sfz");
    }

    // Puts the instrument into the plug-in's current program by a program chunk.
    void loadInto(Plugin& p) const {
        auto chunk = p.getChunk(true);
        placeIn(chunk);
        ASSERT_EQ(p.setChunk(chunk.data(), chunk.size(), true), 12820);
    }

  private:
    fs::path dir_;
};

std::unique_ptr<Plugin> loadCorvane() {
    std::string error;
    auto p = Plugin::load(CORVANE_SO_PATH, &error);
    EXPECT_TRUE(p) << error;
    if (p) p->start(kRate, 256);
    return p;
}

MidiMessage msg(int status, int d1, int d2, int32_t frame = 0) {
    MidiMessage m;
    m.deltaFrames = frame;
    m.bytes[0] = static_cast<uint8_t>(status);
    m.bytes[1] = static_cast<uint8_t>(d1);
    m.bytes[2] = static_cast<uint8_t>(d2);
    return m;
}

struct Block {
    std::vector<float> left, right;
};

Block play(Plugin& p, const std::vector<MidiMessage>& midi, int frames = 256) {
    Block b{std::vector<float>(frames), std::vector<float>(frames)};
    p.sendMidi(midi);
    p.process(b.left.data(), b.right.data(), frames);
    return b;
}

double peak(const std::vector<float>& s, size_t from = 0, size_t to = SIZE_MAX) {
    double m = 0.0;
    for (size_t i = from; i < s.size() && i < to; ++i)
        m = std::max(m, std::fabs(double(s[i])));
    return m;
}

// Frequency from the rising zero crossings of a stretch of output.
double frequency(const std::vector<float>& s) {
    int first = -1, last = -1, count = 0;
    for (size_t i = 1; i < s.size(); ++i) {
        if (s[i - 1] < 0.0f && s[i] >= 0.0f) {
            if (first < 0) first = int(i);
            last = int(i);
            ++count;
        }
    }
    return count > 1 ? (count - 1) * kRate / (last - first) : 0.0;
}

std::vector<float> renderHeld(Plugin& p, int blocks) {
    std::vector<float> out;
    for (int i = 0; i < blocks; ++i) {
        const Block b = play(p, {});
        out.insert(out.end(), b.left.begin(), b.left.end());
    }
    return out;
}

}  // namespace

TEST(SoundThroughSo, NoteOnsSoundFromTheirFrameOnAnyChannel) {
    SineInstrument sine;
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    sine.loadInto(*p);
    const Block b = play(*p, {msg(0x9A, 60, 100, 100)});  // channel 11
    EXPECT_EQ(peak(b.left, 0, 100), 0.0);
    EXPECT_EQ(peak(b.right, 0, 100), 0.0);
    EXPECT_GT(peak(b.left, 100), 1e-3);
    // Sounding within the first frames after its offset, not a sub-block later.
    EXPECT_GT(peak(b.left, 100, 116), 0.0);
}

TEST(SoundThroughSo, VelocityZeroReleasesAndController123Silences) {
    SineInstrument sine;
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    sine.loadInto(*p);
    play(*p, {msg(0x90, 60, 100)});
    const double held = peak(renderHeld(*p, 8));
    ASSERT_GT(held, 1e-3);
    play(*p, {msg(0x93, 60, 0)});
    // The init patch releases at once: a few blocks later nothing is left.
    EXPECT_LT(peak(renderHeld(*p, 40)), held * 1e-3);

    play(*p, {msg(0x90, 64, 100), msg(0x90, 67, 100)});
    ASSERT_GT(peak(renderHeld(*p, 4)), 1e-3);
    const Block silenced = play(*p, {msg(0xB5, 123, 0, 128)});
    EXPECT_EQ(peak(silenced.left), 0.0);
    EXPECT_EQ(peak(silenced.right), 0.0);
}

TEST(SoundThroughSo, PitchBendUpByTheBendRange) {
    SineInstrument sine;
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    sine.loadInto(*p);
    play(*p, {msg(0xE0, 0x00, 0x40), msg(0x90, 60, 100)});
    renderHeld(*p, 8);
    const double centre = frequency(renderHeld(*p, 64));
    EXPECT_NEAR(centre, kToneHz, kToneHz * 0.002);

    play(*p, {msg(0xE0, 0x7F, 0x7F)});
    renderHeld(*p, 16);  // the bend glides in over a few sub-blocks
    const double up = frequency(renderHeld(*p, 64));
    // Two semitones (the default range); the glide settles within a few cents of it.
    EXPECT_NEAR(up / centre, std::pow(2.0, 2.0 / 12.0), 0.003);
}

TEST(SoundThroughSo, KeyByteWithTopBitSetPlaysItsLowSevenBits) {
    SineInstrument sine;
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    sine.loadInto(*p);
    play(*p, {msg(0x90, 0x80 | 60, 100)});  // key 60 with the top bit set
    renderHeld(*p, 8);
    const auto held = renderHeld(*p, 64);
    EXPECT_NEAR(frequency(held), kToneHz, kToneHz * 0.002);
    play(*p, {msg(0x80, 60, 64)});  // released as key 60
    EXPECT_LT(peak(renderHeld(*p, 40)), peak(held) * 1e-3);
}

TEST(SoundThroughSo, BlockLongerThanAnnouncedPlaysItsNotesInListOrder) {
    SineInstrument sine;
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    sine.loadInto(*p);
    // What is left of a note a few blocks after its release; a hanging note keeps its level.
    const auto leftOver = [&] {
        renderHeld(*p, 4);
        return peak(renderHeld(*p, 32));
    };
    play(*p, {msg(0x90, 64, 100)});
    const double held = peak(renderHeld(*p, 8));
    ASSERT_GT(held, 1e-3);
    play(*p, {msg(0x80, 64, 64)});
    ASSERT_LT(leftOver(), held * 1e-3);

    // Blocks of 256 frames were announced; this one has 1024. The note-off at 100 is listed
    // after the note-on at 600, so it plays at 600 as in a block rendered whole: the note
    // is released at once instead of hanging.
    const Block b = play(*p, {msg(0x90, 60, 100, 600), msg(0x80, 60, 64, 100)}, 1024);
    EXPECT_EQ(peak(b.left, 0, 600), 0.0);
    EXPECT_LT(leftOver(), held * 1e-3);

    // Listed the other way round, the note sounds from 100 to 600 and then stops.
    const Block c = play(*p, {msg(0x90, 60, 100, 100), msg(0x80, 60, 64, 600)}, 1024);
    EXPECT_EQ(peak(c.left, 0, 100), 0.0);
    EXPECT_GT(peak(c.left, 100, 600), held * 0.5);
    EXPECT_LT(peak(c.left, 900), held * 1e-3);
    EXPECT_LT(leftOver(), held * 1e-3);
}

namespace {

using EffectOrder = std::array<float, 6>;

void setSlot(std::vector<uint8_t>& chunk, int slot, float value) {
    std::memcpy(chunk.data() + 40 + 512 + 4 * slot, &value, sizeof value);
}

// A program whose rack cuts the level by 20 dB (EQ-1 as a high shelf above 10 Hz) and
// drives a hard distortion, in the stored effect order.
std::vector<uint8_t> cutAndDistort(std::vector<uint8_t> chunk, const SineInstrument& sine,
                                   const EffectOrder& order) {
    sine.placeIn(chunk);
    setSlot(chunk, 119, 1.0f);  // "FX Dist On"
    setSlot(chunk, 97, 0.0f);   // "LP+Crunch"
    setSlot(chunk, 98, 1.0f);   // no colour filter
    setSlot(chunk, 99, 1.0f);   // full drive
    setSlot(chunk, 100, 1.0f);  // wet only
    setSlot(chunk, 120, 1.0f);  // "FX EQ-1 On"
    setSlot(chunk, 101, 1.0f);  // "Hi Shelf"
    setSlot(chunk, 102, 0.0f);  // 10 Hz
    setSlot(chunk, 104, 0.0f);  // gain 0.1
    for (int i = 0; i < 6; ++i)
        setSlot(chunk, 323 + i, order[i]);
    return chunk;
}

// A held note through a plug-in restored from a program chunk.
std::vector<float> restoredSound(const std::vector<uint8_t>& chunk) {
    auto p = loadCorvane();
    EXPECT_TRUE(p);
    if (!p) return {};
    EXPECT_EQ(p->setChunk(chunk.data(), chunk.size(), true), 12820);
    play(*p, {msg(0x90, 60, 100)});
    return renderHeld(*p, 32);
}

// The same, rendered in this process with the rack order set directly.
std::vector<float> soundInOrder(const std::vector<uint8_t>& chunk, const EffectOrder& order) {
    auto s = corvane::test::makeSynth();
    s->setSampleRate(static_cast<float>(kRate));
    s->setBlockSize(256);
    EXPECT_EQ(s->setChunk(const_cast<uint8_t*>(chunk.data()), 12820, true), 12820);
    for (int i = 0; i < 6; ++i)
        s->engine.effectOrder[i] = static_cast<int32_t>(order[i]);
    corvane::test::MidiBlock().add(0x90, 60, 100).sendTo(*s);
    std::vector<float> out, l(256), r(256);
    float* io[2] = {l.data(), r.data()};
    for (int i = 0; i < 33; ++i) {
        s->processReplacing(nullptr, io, 256);
        if (i > 0) out.insert(out.end(), l.begin(), l.end());
    }
    return out;
}

double largestDifference(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return 1e9;
    double d = 0.0;
    for (size_t i = 0; i < a.size(); ++i)
        d = std::max(d, std::fabs(double(a[i]) - b[i]));
    return d;
}

}  // namespace

TEST(SoundThroughSo, RestoredProgramPlaysItsStoredEffectOrder) {
    SineInstrument sine;
    auto source = loadCorvane();
    ASSERT_TRUE(source);
    const auto plain = source->getChunk(true);
    const EffectOrder defaultOrder{0, 1, 2, 3, 4, 5};
    const EffectOrder cutFirst{1, 0, 2, 3, 4, 5};  // EQ-1, then the distortion

    const auto stored = restoredSound(cutAndDistort(plain, sine, cutFirst));
    const auto usual = restoredSound(cutAndDistort(plain, sine, defaultOrder));
    ASSERT_GT(peak(usual), 1e-3);
    // The distortion saturates either way: cut after it, the level drops by the full 20 dB;
    // cut before it, the drive still saturates and the level hardly drops.
    EXPECT_GT(peak(stored), 4.0 * peak(usual));
    // Each sounds as the rack does in that order, sample for sample.
    const auto expectSame = [&](const std::vector<float>& got, const EffectOrder& order) {
        const auto want = soundInOrder(cutAndDistort(plain, sine, order), order);
        EXPECT_LT(largestDifference(got, want), 1e-6 * peak(want));
    };
    expectSame(stored, cutFirst);
    expectSame(usual, defaultOrder);

    // Orders that do not name each effect once play in the default order; stored values
    // within 0.1 below an effect number count as it.
    for (const EffectOrder& bad : {EffectOrder{1, 1, 2, 3, 4, 5}, EffectOrder{1, 0, 2, 3, 4, 6},
                                   EffectOrder{1, 0, 2, 3, 4, NAN}}) {
        expectSame(restoredSound(cutAndDistort(plain, sine, bad)), defaultOrder);
    }
    expectSame(restoredSound(cutAndDistort(plain, sine, {0.95f, -0.05f, 2, 3, 4, 5})), cutFirst);
}
