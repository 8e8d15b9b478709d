// The arpeggiator inside the engine: the tick grid, the tick length, the clock with its
// restart rules, and the notes each mode hands to the plug-in.
#include <gtest/gtest.h>

#include <vector>

#include "EngineTestSupport.h"
#include "engine/Arpeggiator.h"

namespace corvane::test {
namespace {

struct Note {
    int status, key, frame, velocity;
    bool operator==(const Note&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Note& n) {
    return os << "{" << std::hex << n.status << std::dec << " key " << n.key << " @" << n.frame
              << " vel " << n.velocity << "}";
}

// Lane values as a user sets them: the code trunc(v x 128).
float code(int c) {
    return (c + 0.5f) / 128.0f;
}

class Arp : public EngineTest, public EngineClient {
  public:
    void SetUp() override {
        EngineTest::SetUp();
        load({constantLoop()});
        engine->client = this;
        engine->prepare(44100.0f, dsp::kDefaultMaxBlock);
        set(114, 0.0f);               // free rate
        set(71, 0.0f);                // 0.1 steps per second: 13781.25 frames per tick
        set(320, 1.0f);               // 32 steps
        set(72, 31.5f / 62.0f);       // length offset 0
        set(73, 0.5f);                // no swing
        set(125, float(kArpSimple));  // Simple
        for (int s = 0; s < 32; ++s) {
            set(256 + s, code(1));  // every step plays the lowest key
            set(288 + s, 0.0f);
        }
        set(115, 1.0f);
    }

    void programValue(int, float) override {}
    void arpNote(int status, int key, int32_t frame, int velocity) override {
        notes.push_back({status, key, frame, velocity});
    }

    // Ticks every `ticks` frames exactly: a free rate whose tick length is a whole number
    // is not reachable, so the test sets the clock's tick length through a synced rate.
    void syncedTicks() {
        set(114, 1.0f);
        set(71, (10 + 0.5f) / 20.01f);  // 1/16: 5512.5 frames per step at 120 BPM
        engine->tempo = 120.0;
    }

    void hold(int key, int velocity, int32_t frame = 0) {
        bool any = false;
        for (int k = 0; k < 128; ++k)
            any |= engine->arpHeld[k] != 0;
        if (!any) {
            engine->arpClock = 0.0;
            engine->arpTickCounter = 0;
            engine->arpRestartFrame = frame;
        }
        engine->arpHeld[key] = static_cast<uint8_t>(velocity);
    }

    // One host block: the block start, then the run in parts as the plug-in does it.
    void block(int frames, int part = kArpBufferFrames) {
        engine->beginArpBlock();
        for (int start = 0; start < frames; start += part)
            engine->runArpeggiator(std::min(part, frames - start), start);
        engine->arpRestartFrame = -1;
    }

    std::vector<int> onKeys() const {
        std::vector<int> k;
        for (const Note& n : notes)
            if (n.status == 0x90) k.push_back(n.key);
        return k;
    }

    std::vector<Note> notes;
};

TEST(ArpGrid, RestsMoveByTheLengthOffsetSwingMovesEveryFourthStepAndLaterStepsWin) {
    float noteLane[32], secondLane[32], notes[kArpTicks], second[kArpTicks];
    for (int s = 0; s < 32; ++s) {
        noteLane[s] = code(1 + s);
        secondLane[s] = 0.01f * s;
    }
    noteLane[5] = 0.0f;  // a rest
    noteLane[31] = 0.0f;

    buildArpGrid(noteLane, secondLane, 0, 0.5f, notes, second);
    int events = 0;
    for (int t = 0; t < kArpTicks; ++t) {
        if (t % 32 == 0) {
            EXPECT_EQ(notes[t], noteLane[t / 32]) << t;
            EXPECT_EQ(second[t], secondLane[t / 32]) << t;
        } else {
            ASSERT_EQ(notes[t], 1.0f) << t;  // nothing happens between the steps
            ASSERT_EQ(second[t], 1.0f) << t;
        }
        events += notes[t] != 1.0f;
    }
    EXPECT_EQ(events, 32);

    // Length offset -10: the rests come 10 ticks early, shortening the note before them;
    // notes stay where they are. The last rest may not pass the end of the grid with +31.
    buildArpGrid(noteLane, secondLane, -10, 0.5f, notes, second);
    EXPECT_EQ(notes[5 * 32 - 10], 0.0f);
    EXPECT_EQ(second[5 * 32 - 10], secondLane[5]);
    EXPECT_EQ(notes[5 * 32], 1.0f);
    EXPECT_EQ(notes[4 * 32], noteLane[4]);
    buildArpGrid(noteLane, secondLane, 31, 0.5f, notes, second);
    EXPECT_EQ(notes[5 * 32 + 31], 0.0f);
    EXPECT_EQ(notes[1023], 0.0f);  // 31 x 32 + 31 is the last tick
    EXPECT_EQ(notes[31 * 32], 1.0f);

    // Swing 0.75 moves steps 2, 6, 10 ... 12 ticks later; 0.25 twelve ticks earlier.
    buildArpGrid(noteLane, secondLane, 0, 0.75f, notes, second);
    for (int s = 2; s < 32; s += 4) {
        EXPECT_EQ(notes[32 * s], 1.0f) << s;
        EXPECT_EQ(notes[32 * s + 12], noteLane[s]) << s;
    }
    EXPECT_EQ(notes[32 * 3], noteLane[3]);
    buildArpGrid(noteLane, secondLane, 0, 0.25f, notes, second);
    for (int s = 2; s < 32; s += 4)
        EXPECT_EQ(notes[32 * s - 12], noteLane[s]) << s;

    // A rest pushed onto the next step's tick is overwritten by that (later) step; one pulled
    // before tick 0 is held there and overwritten by step 0.
    noteLane[0] = 0.0f;
    buildArpGrid(noteLane, secondLane, 31, 1.0f, notes, second);  // swing +24
    EXPECT_EQ(notes[0], 1.0f);                                    // step 0 moved to 31
    EXPECT_EQ(notes[31], 0.0f);
    noteLane[7] = 0.0f;
    noteLane[6] = code(9);
    // Step 6 (s mod 4 = 2) swings +24 to 216; rest 7 at 224 - 8 = 216 overwrites it.
    buildArpGrid(noteLane, secondLane, -8, 1.0f, notes, second);
    EXPECT_EQ(notes[216], 0.0f);
    EXPECT_EQ(second[216], secondLane[7]);
    buildArpGrid(noteLane, secondLane, -31, 0.5f, notes, second);
    EXPECT_EQ(notes[0], 0.0f);  // step 0 is a rest held at tick 0
}

TEST(ArpGrid, NonFiniteOrOutOfRangeSettingsStayOnTheGrid) {
    float noteLane[32], secondLane[32], notes[kArpTicks], second[kArpTicks];
    for (int s = 0; s < 32; ++s)
        noteLane[s] = secondLane[s] = 0.5f;
    buildArpGrid(noteLane, secondLane, 0, std::nanf(""), notes, second);
    buildArpGrid(noteLane, secondLane, 0, 1e30f, notes, second);
    EXPECT_EQ(notes[1023], 0.5f);  // steps 2, 6 ... pushed to the last tick
    buildArpGrid(noteLane, secondLane, 0, -1e30f, notes, second);
    EXPECT_EQ(notes[0], 0.5f);
}

TEST(ArpTickLength, FreeAndSyncedLengths) {
    // 1/16 at 120 BPM: 0.125 s per step, 32 ticks.
    const float sixteenth = (10 + 0.5f) / 20.01f;
    EXPECT_NEAR(arpTickLength(44100.0, true, sixteenth, 120.0) * 32, 5512.5, 1e-9);
    EXPECT_NEAR(arpTickLength(44100.0, true, sixteenth, 90.0) * 32, 44100.0 * 60 / 90 / 4, 1e-9);
    const float eighth = (7 + 0.5f) / 20.01f;
    EXPECT_NEAR(arpTickLength(44100.0, true, eighth, 120.0) * 32, 11025.0, 1e-9);
    // Dotted half (entry 0) and 1/128 triplet (entry 20); no tempo counts as 120.
    EXPECT_NEAR(arpTickLength(48000.0, true, 0.0f, 0.0) * 32, 48000.0 * 1.5, 1e-9);
    EXPECT_NEAR(arpTickLength(48000.0, true, 1.0f, 120.0) * 32, 48000.0 * 0.5 / 48, 1e-9);
    EXPECT_EQ(arpSyncedIndex(std::nanf("")), 0);
    EXPECT_EQ(arpSyncedIndex(7.0f), 20);
    // Free: 0.1 x 1000^v steps per second; 0.5 gives 3.162 steps per second.
    EXPECT_NEAR(44100.0 / (arpTickLength(44100.0, false, 0.5f, 120.0) * 32), 3.16228, 1e-5);
    EXPECT_NEAR(44100.0 / (arpTickLength(44100.0, false, 1.0f, 120.0) * 32), 100.0, 1e-9);
    EXPECT_NEAR(44100.0 / (arpTickLength(44100.0, false, std::nanf(""), 1.0) * 32), 0.1, 1e-12);
}

TEST_F(Arp, StepsLandOnAbsoluteFramesAcrossBlocksAndParts) {
    syncedTicks();
    // Run three ways: blocks of 512, one block of 20000 in parts of 8192, blocks of 16384.
    auto absoluteOnsets = [&](int blockFrames, int part, int total) {
        notes.clear();
        engine->reset();
        hold(60, 100, 300);
        std::vector<int> onsets;
        for (int at = 0; at < total; at += blockFrames) {
            const size_t before = notes.size();
            block(blockFrames, part);
            for (size_t i = before; i < notes.size(); ++i)
                if (notes[i].status == 0x90) onsets.push_back(at + notes[i].frame);
        }
        return onsets;
    };
    std::vector<int> expected;
    for (int s = 0; s < 7; ++s)
        expected.push_back(300 + static_cast<int>(std::ceil(s * 5512.5)));
    auto first7 = [](std::vector<int> v) {
        v.resize(7);
        return v;
    };
    EXPECT_EQ(first7(absoluteOnsets(512, kArpBufferFrames, 40960)), expected);
    EXPECT_EQ(first7(absoluteOnsets(20000, 8192, 40000)), expected);
    EXPECT_EQ(first7(absoluteOnsets(16384, 8192, 49152)), expected);
}

TEST_F(Arp, NoTickBeforeAPendingRestartAndTheCounterRunsOnOtherwise) {
    syncedTicks();
    hold(60, 100, 0);
    block(512);
    engine->arpClock = 1e9;  // a tick would be due at once
    notes.clear();
    engine->arpRestartFrame = 400;
    engine->arpTickCounter = 0;
    block(512);
    ASSERT_EQ(notes.size(), 2u);  // the old note's release and the new one, both at 400
    EXPECT_EQ(notes[0], (Note{0x80, 60, 400, 64}));
    EXPECT_EQ(notes[1], (Note{0x90, 60, 400, 100}));

    // While off, the clock only moves by one per block.
    set(115, 0.0f);
    const double clock = engine->arpClock;
    block(512);
    block(512);
    EXPECT_EQ(engine->arpClock, clock + 2.0);
}

TEST_F(Arp, OneShotPlaysOncePerPressAndEndsItsLastNote) {
    syncedTicks();
    set(125, float(kArpOneShot));
    set(320, (3 - 0.5f) / 31.0f);  // 3 steps
    set(257, code(5));
    set(258, code(8));
    hold(48, 100);
    for (int b = 0; b < 100; ++b)
        block(512);  // 9 steps' time
    EXPECT_EQ(onKeys(), (std::vector<int>{48, 52, 55}));
    EXPECT_EQ(notes.back().status, 0x90);  // the last note lasts while the key is held

    engine->arpHeld[48] = 0;
    for (int b = 0; b < 12; ++b)
        block(512);
    EXPECT_EQ(notes.back(), (Note{0x80, 55, notes.back().frame, 64}));

    notes.clear();
    hold(48, 100);  // pressed again: once more
    for (int b = 0; b < 100; ++b)
        block(512);
    EXPECT_EQ(onKeys(), (std::vector<int>{48, 52, 55}));
}

TEST_F(Arp, DynamicPicksChordMembersInTheNoteLanesOctave) {
    syncedTicks();
    set(125, float(kArpDynamic));
    set(320, (4 - 0.5f) / 31.0f);
    set(256, code(1));   // e = 0: the lowest key
    set(257, code(13));  // one octave up ...
    set(289, code(16));  // ... e = 1: the first key above the lowest
    set(258, code(1));
    set(290, code(48));  // e = 3, but only two keys above the lowest: the lowest plays
    set(259, code(25));  // two octaves up ...
    set(291, code(40));  // ... e = 2
    hold(48, 70);
    engine->arpHeld[55] = 100;
    engine->arpHeld[52] = 90;
    for (int b = 0; b < 43; ++b)
        block(512);
    EXPECT_EQ(onKeys(), (std::vector<int>{48, 12 + 52, 48, 24 + 55}));
    for (const Note& n : notes)
        if (n.status == 0x90) {
            EXPECT_EQ(n.velocity, 70);  // always the lowest key's
        }
    EXPECT_EQ(engine->arpVelocityValue, 0.5f);  // the second lane leaves "Arp Vel" alone
}

TEST_F(Arp, ChordPlaysEveryHeldKeyWithTheVelocityBlend) {
    syncedTicks();
    set(125, float(kArpChord));
    set(320, (2 - 0.5f) / 31.0f);
    set(288, 1.0f);  // second lane 1.0: "Arp Vel" 1
    set(257, 0.0f);  // step 1 rests
    set(70, 1.0f);   // range 1: the lane's velocity alone
    hold(60, 40);
    engine->arpHeld[64] = 50;
    engine->arpHeld[67] = 60;
    block(512);
    std::vector<Note> ons;
    for (const Note& n : notes)
        if (n.status == 0x90) ons.push_back(n);
    ASSERT_EQ(ons.size(), 3u);
    EXPECT_EQ(ons[0], (Note{0x90, 67, 0, 127}));  // from the top down
    EXPECT_EQ(ons[2], (Note{0x90, 60, 0, 127}));
    notes.clear();
    for (int b = 0; b < 11; ++b)
        block(512);  // step 1: the rest releases every key
    ASSERT_EQ(notes.size(), 3u);
    for (const Note& n : notes)
        EXPECT_EQ(n.status, 0x80);

    // Range 0.25 blends 0.25 x 127 with 0.75 of the key's own velocity.
    set(70, 0.25f);
    notes.clear();
    for (int b = 0; b < 11; ++b)
        block(512);
    for (const Note& n : notes)
        if (n.status == 0x90) {
            EXPECT_EQ(n.velocity, int(0.25 * 127 + 0.75 * engine->arpHeld[n.key])) << n;
        }
}

TEST_F(Arp, DuophonicPlaysTwoLanesAndModulationOnlyMovesValues) {
    syncedTicks();
    set(125, float(kArpDuophonic));
    set(320, (2 - 0.5f) / 31.0f);
    set(256, code(1));
    set(288, code(8));   // B: lowest - 1 + 8 = a fifth up
    set(257, 1.0f);      // A ties
    set(289, code(13));  // B moves to the octave
    hold(50, 77);
    for (int b = 0; b < 21; ++b)
        block(512);
    EXPECT_EQ(onKeys(), (std::vector<int>{50, 57, 62}));
    EXPECT_EQ(engine->arpNoteA, 50);
    EXPECT_EQ(engine->arpNoteB, 62);
    EXPECT_EQ(engine->arpVelocityValue, 0.5f);

    // Leaving Duophonic releases both of its notes at the next block.
    notes.clear();
    set(125, float(kArpModulation));
    block(64);
    EXPECT_EQ(engine->arpNoteA, -1);
    EXPECT_EQ(engine->arpNoteB, -1);
    notes.clear();
    set(256, code(5));
    set(288, 0.75f);
    engine->arpTickCounter = 0;
    engine->arpRestartFrame = 0;
    block(64);
    EXPECT_TRUE(notes.empty());  // no notes in Modulation
    EXPECT_EQ(engine->arpNoteValue, code(5));
    EXPECT_EQ(engine->arpVelocityValue, 0.75f);
    EXPECT_EQ(engine->arpNoteBuffer[63], code(5));
    EXPECT_EQ(engine->arpVelocityBuffer[63], 0.75f);
}

TEST_F(Arp, ModeCodesWithoutAModePlayNothing) {
    syncedTicks();
    for (float mode :
         {1.0f, 7.0f, 8.0f, -3.0f, 1e9f}) {  // (non-finite values read as the init patch's)
        notes.clear();
        set(125, mode);
        engine->reset();
        hold(60, 100);
        for (int b = 0; b < 30; ++b)
            block(512);
        EXPECT_TRUE(notes.empty()) << mode;
    }
}

TEST_F(Arp, SwitchingOffReleasesItsVoicesInMonoModeTooAndResetRestoresTheValues) {
    for (float mono : {0.0f, 1.0f}) {
        set(kMonoMode, mono);
        set(115, 1.0f);
        syncedTicks();
        engine->client = nullptr;  // the notes go straight to the voices here
        block(1);
        hold(60, 100);
        block(64);
        engine->noteOn(60, 100);  // what the plug-in does with the arpeggiator's note
        ASSERT_EQ(activeVoices(), 1);
        set(115, 0.0f);
        block(64);
        for (const Voice& v : engine->voices)
            if (v.active) {
                EXPECT_TRUE(v.released) << "mono " << mono;
            }
        EXPECT_EQ(engine->arpHeld[60], 0);
        engine->client = this;
    }
    engine->arpNoteValue = 0.3f;
    engine->arpVelocityValue = 0.9f;
    engine->arpNoteA = 5;
    engine->arpClock = 77.0;
    engine->reset();
    EXPECT_EQ(engine->arpNoteValue, 0.0f);
    EXPECT_EQ(engine->arpVelocityValue, 0.5f);
    EXPECT_EQ(engine->arpNoteA, -1);
    EXPECT_EQ(engine->arpNoteB, -1);
    EXPECT_EQ(engine->arpClock, 0.0);
}

}  // namespace
}  // namespace corvane::test
