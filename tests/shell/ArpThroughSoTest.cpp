// The arpeggiator heard through Corvane.so: a looped cosine instrument at 441 Hz on key 60
// lets each step's key be read from its frequency and each onset to the frame.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "TestHost.h"

using corvane::testhost::MidiMessage;
using corvane::testhost::Plugin;
namespace fs = std::filesystem;

namespace {

constexpr double kRate = 44100.0;
constexpr double kToneHz = 441.0;  // 100 frames a period: the loop of 44100 frames is seamless
// The instant attack sounds from the note's own frame (the cosine starts at its peak).
constexpr int64_t kLatency = 0;

void put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

std::vector<uint8_t> cosineWav() {
    const int frames = 44100;
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
        put16(b, uint16_t(int16_t(std::lround(16000 * std::cos(2 * M_PI * kToneHz * i / kRate)))));
    return b;
}

// Slot values written into the program before it is loaded.
using Slots = std::map<int, float>;

// A lane value whose code trunc(v x 128) is c.
float code(int c) {
    return (c + 0.5f) / 128.0f;
}
constexpr float kRest = 0.0f;
constexpr float kTie = 1.0f;
float steps(int n) {
    return (n - 0.5f) / 31.0f;
}
float synced(int index) {  // 7 = 1/8, 10 = 1/16
    return (index + 0.5f) / 20.01f;
}
float lengthTicks(int ticks) {
    return (ticks + 31.5f) / 62.0f;
}

class ArpSo : public ::testing::Test {
  public:
    void SetUp() override {
        char name[128];
        std::snprintf(name, sizeof name, "corvane_arp_%d_%s", static_cast<int>(::getpid()),
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        dir_ = fs::temp_directory_path() / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const auto wav = cosineWav();
        std::ofstream(dir_ / "tone.wav", std::ios::binary)
            .write(reinterpret_cast<const char*>(wav.data()), wav.size());
        std::ofstream(dir_ / "tone.sfz")
            << "<region>sample=tone.wav pitch_keycenter=60 loopstart=0 loopend=44099 "
               "loopmode=loop_continuous\n";
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A plug-in with the tone in its current program and the given slots; the pattern
    // defaults: Simple, 16 steps of 1/16, every lane value a rest.
    std::unique_ptr<Plugin> load(const Slots& extra, int blockSize = 512) {
        std::string error;
        auto p = Plugin::load(CORVANE_SO_PATH, &error);
        EXPECT_TRUE(p) << error;
        if (!p) return p;
        p->start(kRate, blockSize);
        Slots slots = {{18, 0.0f},
                       {20, 1.0f},
                       {21, 0.0f},  // instant attack, full,
                                    // short release
                       {125, 0.0f},
                       {320, steps(16)},
                       {114, 1.0f},
                       {71, synced(10)},
                       {72, lengthTicks(0)},
                       {73, 0.5f},
                       {70, 0.0f}};
        for (int s = 256; s < 320; ++s)
            slots[s] = kRest;
        for (const auto& [slot, value] : extra)
            slots[slot] = value;
        auto chunk = p->getChunk(true);
        char* record = reinterpret_cast<char*>(chunk.data() + 40);
        for (const auto& [slot, value] : slots)
            std::memcpy(record + 512 + 4 * slot, &value, 4);
        std::string folder = dir_.string() + "/";
        for (char& c : folder)
            if (c == '/') c = '\\';
        std::snprintf(record + 11560, 1000, "%s", folder.c_str());
        std::snprintf(record + 12560, 220, "tone.sfz");
        EXPECT_EQ(p->setChunk(chunk.data(), chunk.size(), true), 12820);
        return p;
    }

    fs::path dir_;
};

MidiMessage msg(int status, int d1, int d2, int32_t frame) {
    MidiMessage m;
    m.deltaFrames = frame;
    m.bytes[0] = static_cast<uint8_t>(status);
    m.bytes[1] = static_cast<uint8_t>(d1);
    m.bytes[2] = static_cast<uint8_t>(d2);
    return m;
}
MidiMessage arpOn(int32_t frame, bool on = true) {
    return msg(0xB0, 47, on ? 127 : 0, frame);
}
MidiMessage keyOn(int key, int velocity, int32_t frame) {
    return msg(0x90, key, velocity, frame);
}
MidiMessage keyOff(int key, int32_t frame) {
    return msg(0x80, key, 64, frame);
}

std::vector<float> render(Plugin& p, int64_t frames, int block, std::vector<MidiMessage> midi) {
    std::vector<float> l, r;
    p.render(frames, block, midi, l, r);
    return l;
}

double peakOf(const std::vector<float>& s, int64_t from, int64_t to) {
    double m = 0.0;
    for (int64_t i = std::max<int64_t>(0, from); i < to && i < int64_t(s.size()); ++i)
        m = std::max(m, std::fabs(double(s[size_t(i)])));
    return m;
}

// Frames at which a note starts after silence: the first clearly sounding frame after at
// least 200 quiet ones.
std::vector<int64_t> onsets(const std::vector<float>& s) {
    std::vector<int64_t> out;
    int64_t quiet = 200;
    for (size_t i = 0; i < s.size(); ++i) {
        const double a = std::fabs(double(s[i]));
        if (a > 0.01 && quiet >= 200) out.push_back(int64_t(i));
        quiet = a < 1e-4 ? quiet + 1 : 0;
    }
    return out;
}

// Frequency from the rising zero crossings between two frames.
double frequency(const std::vector<float>& s, int64_t from, int64_t to) {
    int64_t first = -1, last = -1;
    int count = 0;
    for (int64_t i = from + 1; i < to && i < int64_t(s.size()); ++i) {
        if (s[size_t(i - 1)] < 0.0f && s[size_t(i)] >= 0.0f) {
            if (first < 0) first = i;
            last = i;
            ++count;
        }
    }
    return count > 1 ? (count - 1) * kRate / double(last - first) : 0.0;
}

int keyOf(double hz) {
    return hz > 0.0 ? int(std::lround(60.0 + 12.0 * std::log2(hz / kToneHz))) : -1;
}
double hzOf(int key) {
    return kToneHz * std::pow(2.0, (key - 60) / 12.0);
}

// Amplitude of one key's tone in a stretch (Hann-windowed single-bin transform).
double levelOf(const std::vector<float>& s, int64_t from, int64_t to, int key) {
    const double w = 2 * M_PI * hzOf(key) / kRate;
    double re = 0.0, im = 0.0, sum = 0.0;
    const int64_t n = to - from;
    for (int64_t i = 0; i < n; ++i) {
        const double win = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(n));
        re += win * s[size_t(from + i)] * std::cos(w * double(i));
        im += win * s[size_t(from + i)] * std::sin(w * double(i));
        sum += win;
    }
    return 2.0 * std::hypot(re, im) / sum;
}

// The frame at which a note's level starts to fall: the tone's phase is known from the
// note's onset, so each frame where the cosine is large gives the envelope; the first frame
// after `from` where it is below 90 % of its level at `from`.
int64_t releaseFrame(const std::vector<float>& s, int64_t from, int64_t onset,
                     double period = 100.0) {
    auto phase = [=](int64_t i) { return std::cos(2 * M_PI * double(i - onset) / period); };
    double held = 0.0;
    for (int64_t i = from; held == 0.0; ++i)
        if (std::fabs(phase(i)) > 0.9) held = s[size_t(i)] / phase(i);
    for (int64_t i = from; i < int64_t(s.size()); ++i) {
        const double c = phase(i);
        if (std::fabs(c) > 0.05 && s[size_t(i)] / c < 0.9 * held) return i;
    }
    return -1;
}

// How many frames after its note event a note is heard, and after a release falls: measured
// on a note the host plays directly.
struct Latency {
    int64_t onset, release;
};
Latency measureLatency(Plugin& p) {
    const auto out = render(p, 20000, 512, {keyOn(60, 100, 1000), keyOff(60, 9000)});
    const auto on = onsets(out);
    return {on.empty() ? -1 : on[0] - 1000, releaseFrame(out, 5000, 1000 + kLatency) - 9000};
}

// 16 steps: notes on steps 0, 3, 6, 9, 12 (each 3 semitones higher), rests between, so each
// onset follows silence and is read to the frame.
Slots sparsePattern() {
    Slots s;
    for (int step = 0; step < 16; ++step)
        s[256 + step] = (step % 3 == 0 && step < 15) ? code(1 + step) : kRest;
    return s;
}

// Checks the first pattern and a half: onsets at the first frame at or after each tick of
// the step length, and keys 60 + step.
void expectSteps(const std::vector<float>& out, double stepFrames, int64_t start, int64_t latency,
                 double tolerance = 0.0) {
    const auto on = onsets(out);
    std::vector<int> playedSteps;
    for (int round = 0; round < 2; ++round)
        for (int st = 0; st < 15; st += 3)
            playedSteps.push_back(round * 16 + st);
    size_t checked = 0;
    for (size_t k = 0; k < playedSteps.size(); ++k) {
        const int step = playedSteps[k];
        const double exact = double(start) + step * stepFrames;
        if (exact + 3000 >= double(out.size())) break;
        ASSERT_LT(k, on.size());
        if (tolerance == 0.0) {
            EXPECT_EQ(on[k] - latency, int64_t(std::ceil(exact))) << "step " << step;
        } else {
            EXPECT_NEAR(double(on[k] - latency), exact, tolerance) << "step " << step;
        }
        EXPECT_EQ(keyOf(frequency(out, on[k] + 100, on[k] + 2000)), 60 + step % 16)
            << "step " << step;
        ++checked;
    }
    EXPECT_GE(checked, 5u);
}

}  // namespace

TEST_F(ArpSo, SixteenthsAt120PlayAStepEvery5512AndAHalfFramesAndRepeatEveryTwoSeconds) {
    auto p = load(sparsePattern());
    ASSERT_TRUE(p);
    const Latency lat = measureLatency(*p);
    ASSERT_EQ(lat.onset, kLatency);
    // Arp On, then the first key at frame 300 of the first block: the pattern starts there.
    // A second key later does not restart it, and its release late in a block does not
    // hold back the step due earlier in that block (step 3 at 16838 = block 32, frame 454).
    const auto out =
        render(*p, 3 * 44100, 512,
               {arpOn(0), keyOn(60, 100, 300), keyOn(72, 100, 3000), keyOff(72, 16384 + 500)});
    expectSteps(out, 5512.5, 300, lat.onset);
    EXPECT_EQ(onsets(out).at(5) - onsets(out).at(0), 88200);  // the pattern repeats in 2 s
}

TEST_F(ArpSo, NinetyBpmEighthsAndAFreeRateKeepTheirStepLengths) {
    {
        auto p = load(sparsePattern());
        ASSERT_TRUE(p);
        p->tempo = 90.0;
        const auto out = render(*p, 4 * 44100, 512, {arpOn(0), keyOn(60, 100, 1000)});
        expectSteps(out, 7350.0, 1000, kLatency);
    }
    {
        Slots s = sparsePattern();
        s[71] = synced(7);  // 1/8
        auto p = load(s);
        ASSERT_TRUE(p);
        const auto out = render(*p, 4 * 44100, 512, {arpOn(0), keyOn(60, 100, 1000)});
        expectSteps(out, 11025.0, 1000, kLatency);
    }
    {
        Slots s = sparsePattern();
        s[114] = 0.0f;  // free: 0.1 x 1000^0.5 = 3.162 steps per second
        s[71] = 0.5f;
        auto p = load(s);
        ASSERT_TRUE(p);
        const auto out = render(*p, 6 * 44100, 512, {arpOn(0), keyOn(60, 100, 1000)});
        expectSteps(out, 44100.0 / (0.1 * std::sqrt(1000.0)), 1000, kLatency, 1.0);
    }
}

TEST_F(ArpSo, HostBlocksLongerThanTheBuffersKeepExactTiming) {
    for (int block : {16384, 20000}) {
        auto p = load(sparsePattern(), block);
        ASSERT_TRUE(p);
        const auto out = render(*p, 3 * 44100, block, {arpOn(0), keyOn(60, 100, 300)});
        expectSteps(out, 5512.5, 300, kLatency);
    }
    // A host that announced 512 but sends 20000 at once.
    auto p = load(sparsePattern(), 512);
    ASSERT_TRUE(p);
    const auto out = render(*p, 3 * 44100, 20000, {arpOn(0), keyOn(60, 100, 300)});
    expectSteps(out, 5512.5, 300, kLatency);
}

TEST_F(ArpSo, ATieHoldsTheNoteARestOnlyReleasesAndLengthMovesTheRest) {
    Slots s;
    s[256] = code(1);
    s[257] = kTie;
    s[258] = kRest;
    s[259] = code(8);
    s[320] = steps(4);
    auto p = load(s);
    ASSERT_TRUE(p);
    const Latency lat = measureLatency(*p);
    const auto out = render(*p, 30000, 512, {arpOn(0), keyOn(60, 100, 0)});
    // One continuous tone through the tie: the cosine runs on in phase from the onset.
    const double a = peakOf(out, 1000, 2000);
    ASSERT_GT(a, 0.01);
    for (int64_t i = 4000; i < 11000; ++i)
        ASSERT_NEAR(out[size_t(i)], a * std::cos(2 * M_PI * double(i - kLatency) / 100.0), a * 0.01)
            << i;
    // The rest at step 2 (frame 11025) releases it; step 3 plays key 67 after silence.
    EXPECT_EQ(releaseFrame(out, 5000, kLatency) - lat.release, 11025);
    const auto on = onsets(out);
    ASSERT_EQ(on.size(), 2u);
    EXPECT_EQ(on[1] - kLatency, 16538);
    EXPECT_EQ(keyOf(frequency(out, on[1] + 100, on[1] + 3000)), 67);

    // Arp Length +10 ticks moves the rest 10 x 172.27 frames later: the note lasts longer.
    s[72] = lengthTicks(10);
    auto longer = load(s);
    const auto out2 = render(*longer, 30000, 512, {arpOn(0), keyOn(60, 100, 0)});
    EXPECT_EQ(releaseFrame(out2, 5000, kLatency) - lat.release,
              int64_t(std::ceil(11025 + 10 * 172.265625)));
    s[72] = lengthTicks(-20);
    auto shorter = load(s);
    const auto out3 = render(*shorter, 30000, 512, {arpOn(0), keyOn(60, 100, 0)});
    EXPECT_EQ(releaseFrame(out3, 5000, kLatency) - lat.release,
              int64_t(std::ceil(11025 - 20 * 172.265625)));
}

TEST_F(ArpSo, SwingMovesStepsTwoSixTenByTwelveTicks) {
    Slots s;
    for (int step = 0; step < 16; step += 2)
        s[256 + step] = code(1);  // notes on even steps, rests between
    for (float swing : {0.75f, 0.25f}) {
        s[73] = swing;
        auto p = load(s);
        ASSERT_TRUE(p);
        const auto on = onsets(render(*p, 2 * 44100, 512, {arpOn(0), keyOn(60, 100, 0)}));
        ASSERT_GE(on.size(), 7u);
        const double tick = 172.265625, shift = swing > 0.5f ? 12 : -12;
        for (int k = 0; k < 7; ++k) {
            const int step = 2 * k;
            const double at = (32 * step + (step % 4 == 2 ? shift : 0)) * tick;
            EXPECT_EQ(on[size_t(k)] - kLatency, int64_t(std::ceil(at))) << "step " << step;
        }
    }
}

TEST_F(ArpSo, OneShotPlaysOncePerPressAndSimpleStopsAfterTheKeys) {
    Slots s;
    s[256] = code(1);
    s[258] = code(5);
    s[320] = steps(4);
    s[125] = 2.0f;  // One Shot
    auto p = load(s);
    ASSERT_TRUE(p);
    auto on = onsets(render(
        *p, 100000, 512, {arpOn(0), keyOn(60, 100, 0), keyOff(60, 60000), keyOn(62, 100, 70000)}));
    // Two notes per press over 2.3 s of holding: 0 and 11025, then 70000 and 81025.
    EXPECT_EQ(on, (std::vector<int64_t>{0, 11025, 70000, 81025}));

    // Simple, every step an octave above the key (so that the key's own release does not
    // reach the note): the key released at 20000 sounds until the step at 22050, which
    // releases it and starts nothing.
    Slots simple;
    for (int step = 0; step < 16; ++step)
        simple[256 + step] = code(13);
    auto q = load(simple);
    ASSERT_TRUE(q);
    const Latency lat = measureLatency(*q);
    const auto out = render(*q, 60000, 512, {arpOn(0), keyOn(60, 100, 0), keyOff(60, 20000)});
    EXPECT_EQ(keyOf(frequency(out, 17000, 19000)), 72);
    EXPECT_EQ(releaseFrame(out, 18000, 16538 + kLatency, 50.0) - lat.release, 22050);
    EXPECT_LT(peakOf(out, 30000, 60000), 1e-4);
}

TEST_F(ArpSo, ChordDynamicAndDuophonicPlayTheirKeysAndLevels) {
    // Reference levels: the tone played directly at velocities 127 and 60.
    double ref127, ref60;
    {
        auto p = load({});
        ASSERT_TRUE(p);
        const auto out =
            render(*p, 30000, 512, {keyOn(60, 127, 0), keyOff(60, 10000), keyOn(60, 60, 15000)});
        ref127 = levelOf(out, 2000, 8000, 60);
        ref60 = levelOf(out, 17000, 23000, 60);
        ASSERT_GT(ref127, ref60 * 1.2);  // the init patch routes velocity to volume
    }
    {
        // Chord with Arp Range 1 and a second-lane value of 1.0: every key at 127.
        Slots s;
        s[256] = code(1);
        s[288] = 1.0f;
        s[125] = 3.0f;
        s[70] = 1.0f;
        auto p = load(s);
        const auto out = render(*p, 12000, 512,
                                {arpOn(0), keyOn(60, 30, 0), keyOn(64, 60, 0), keyOn(67, 90, 0)});
        for (int key : {60, 64, 67})
            EXPECT_NEAR(levelOf(out, 1000, 5000, key), ref127, ref127 * 0.03) << key;
        EXPECT_LT(levelOf(out, 1000, 5000, 62), ref127 * 0.05);
        // Range 0: each key at its own velocity.
        s[70] = 0.0f;
        auto q = load(s);
        const auto out2 = render(*q, 12000, 512, {arpOn(0), keyOn(60, 60, 0), keyOn(64, 127, 0)});
        EXPECT_NEAR(levelOf(out2, 1000, 5000, 60), ref60, ref60 * 0.03);
        EXPECT_NEAR(levelOf(out2, 1000, 5000, 64), ref127, ref127 * 0.03);
    }
    {
        // Dynamic: a second-lane value of 16/128 plays the upper key in the note lane's
        // octave (+12), at the lowest key's velocity.
        Slots s;
        s[125] = 5.0f;
        s[256] = code(13);
        s[288] = code(16);
        auto p = load(s);
        const auto out = render(*p, 12000, 512, {arpOn(0), keyOn(48, 60, 0), keyOn(55, 127, 0)});
        EXPECT_EQ(keyOf(frequency(out, 1000, 5000)), 67);
        EXPECT_NEAR(levelOf(out, 1000, 5000, 67), ref60, ref60 * 0.03);
    }
    {
        // Duophonic: two notes at once, the lowest key and a fifth above it.
        Slots s;
        s[125] = 6.0f;
        s[256] = code(1);
        s[288] = code(8);
        auto p = load(s);
        const auto out = render(*p, 12000, 512, {arpOn(0), keyOn(60, 127, 0)});
        EXPECT_NEAR(levelOf(out, 1000, 5000, 60), ref127, ref127 * 0.03);
        EXPECT_NEAR(levelOf(out, 1000, 5000, 67), ref127, ref127 * 0.03);
    }
}

TEST_F(ArpSo, ModulationModeTransposesHeldKeysThroughArpNote) {
    Slots s;
    s[125] = 4.0f;
    s[256] = code(1);   // trunc(v x 128) - 1 = 0 semitones
    s[257] = code(8);   // +7
    s[258] = code(13);  // +12
    s[320] = steps(3);
    s[129] = 8.0f;  // matrix row 2: "Arp Note" -> "Pitch Semi"
    s[161] = 1.0f;
    s[193] = 1.0f;
    auto p = load(s);
    ASSERT_TRUE(p);
    const auto out = render(*p, 20000, 512, {arpOn(0), keyOn(60, 100, 0)});
    EXPECT_EQ(onsets(out), (std::vector<int64_t>{0}));  // the key plays itself, once
    EXPECT_EQ(keyOf(frequency(out, 500, 5000)), 60);
    EXPECT_EQ(keyOf(frequency(out, 6000, 10500)), 67);
    EXPECT_EQ(keyOf(frequency(out, 11600, 16000)), 72);
}

TEST_F(ArpSo, SwitchingOffMidNoteSilencesAndKeysThenPlayDirectly) {
    Slots s;
    for (int step = 0; step < 16; ++step)
        s[256 + step] = code(13);  // every step an octave above the key
    for (float mono : {0.0f, 1.0f}) {
        s[127] = mono;
        auto p = load(s);
        ASSERT_TRUE(p);
        const auto out = render(*p, 40000, 512,
                                {arpOn(0), keyOn(60, 100, 0), arpOn(8192, false), keyOff(60, 12000),
                                 keyOn(64, 100, 20000)});
        EXPECT_EQ(keyOf(frequency(out, 1000, 5000)), 72);
        // Off at the block of 8192: silent within 5 ms.
        EXPECT_LT(peakOf(out, 8192 + 220, 20000), 1e-3) << "mono " << mono;
        const auto on = onsets(out);
        ASSERT_EQ(on.size(), 2u);
        EXPECT_EQ(on[1], 20000 + kLatency);
        EXPECT_EQ(keyOf(frequency(out, 21000, 30000)), 64);  // no arpeggio: the key itself
    }
}
