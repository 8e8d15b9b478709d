#pragma once
// Engine fixture: a Harrow at 44.1 kHz with zones built in code and sub-block rendering
// into cleared buses.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "content/SampleMap.h"
#include "engine/Harrow.h"

namespace corvane::test {

constexpr double kRate = 44100.0;

// Slots the tests set.
enum : int {
    kAmpAttack = 18,
    kAmpDecay = 19,
    kAmpSustain = 20,
    kAmpRelease = 21,
    kOscSync = 32,
    kVolume = 74,
    kGlide = 78,
    kMonoMode = 127,
    kPoly = 321,
};

struct ZoneSpec {
    std::vector<float> data;  // interleaved when channels == 2
    int channels = 1;
    int rootKey = 60;
    int loKey = 0, hiKey = 127;
    double sampleRate = kRate;
    int loopMode = 0;
    double loopStart = 0.0, loopEnd = 0.0;
    float gain = 1.0f;
    uint8_t isLoopTrigger = 0;
    int32_t slicePosition = 0;
};

class EngineTest : public ::testing::Test {
  public:
    void SetUp() override {
        engine = std::make_unique<Harrow>();
        engine->prepare(static_cast<float>(kRate), dsp::kDefaultMaxBlock);
        engine->reset();
        // Instant attack, slowest decay to full sustain: a held note plays at (almost
        // exactly) full level; Volume 0.5 gives a master gain of 0.5^2 * 4 = 1.
        set(kAmpAttack, 0.0f);
        set(kAmpDecay, 1.0f);
        set(kAmpSustain, 1.0f);
        set(kAmpRelease, 0.5f);
        set(kVolume, 0.5f);
        set(kPoly, 1.0f);
    }

    void set(int slot, float value) { engine->setParameter(slot, value); }

    // Replaces the map with the given zones (slice zones first for REX).
    void load(const std::vector<ZoneSpec>& specs, int sliceCount = 0) {
        SampleMap& map = engine->map;
        engine->clearSampleMap();
        ASSERT_TRUE(map.beginZones(static_cast<int32_t>(specs.size())));
        for (const ZoneSpec& s : specs) {
            SampleZone* z = map.appendZone();
            ASSERT_NE(z, nullptr);
            const int frames = static_cast<int>(s.data.size()) / s.channels;
            if (!s.data.empty()) {
                z->data = allocSampleData(s.data.size(), 256 * 2 * sizeof(float));
                std::copy(s.data.begin(), s.data.end(), z->data);
            }
            z->frameCount = frames;
            z->channels = s.channels;
            z->rootKey = static_cast<int8_t>(s.rootKey);
            z->loKey = static_cast<int8_t>(s.loKey);
            z->hiKey = static_cast<int8_t>(s.hiKey);
            z->sampleRate = s.sampleRate;
            z->loopMode = s.loopMode;
            z->loopStart = s.loopStart;
            z->loopEnd = s.loopEnd;
            z->gain = s.gain;
            z->isLoopTrigger = s.isLoopTrigger;
            z->slicePosition = s.slicePosition;
            z->bitsPerSample = 32;
        }
        map.sliceCount = sliceCount;
    }

    // A mono loop of constant 1.0: the output shows the envelope times the voice gain.
    static ZoneSpec constantLoop(int loKey = 0, int hiKey = 127) {
        ZoneSpec z;
        z.data.assign(1000, 1.0f);
        z.loopMode = 1;
        z.loopStart = 0.0;
        z.loopEnd = 1000.0;
        z.loKey = loKey;
        z.hiKey = hiKey;
        return z;
    }

    // Renders `frames` frames into cleared buses, in pieces of at most 64 like the plug-in.
    void render(int frames) {
        fxL.assign(frames, 0.0f);
        fxR.assign(frames, 0.0f);
        dryL.assign(frames, 0.0f);
        dryR.assign(frames, 0.0f);
        for (int done = 0; done < frames;) {
            const int n = std::min(64, frames - done);
            engine->renderVoices(n, fxL.data() + done, fxR.data() + done, dryL.data() + done,
                                 dryR.data() + done, done);
            done += n;
        }
    }

    // Renders and discards `frames` frames without keeping them.
    void run(int frames) {
        float l[64], r[64], dl[64], dr[64];
        for (int done = 0; done < frames;) {
            const int n = std::min(64, frames - done);
            std::fill(l, l + n, 0.0f);
            std::fill(r, r + n, 0.0f);
            std::fill(dl, dl + n, 0.0f);
            std::fill(dr, dr + n, 0.0f);
            engine->renderVoices(n, l, r, dl, dr, 0);
            done += n;
        }
    }

    int activeVoices() const {
        int count = 0;
        for (const Voice& v : engine->voices)
            count += v.active ? 1 : 0;
        return count;
    }

    std::unique_ptr<Harrow> engine;
    std::vector<float> fxL, fxR, dryL, dryR;
};

}  // namespace corvane::test
