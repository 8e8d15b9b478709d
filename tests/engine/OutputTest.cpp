#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <numbers>

#include "EngineTestSupport.h"
#include "shell/VstSynth.h"

// Counts heap allocations made by this thread while `gCounting` is set. Sanitizer builds
// keep their own allocator (they check allocation pairs), so the count is skipped there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CORVANE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CORVANE_SANITIZED 1
#endif
#endif

namespace {
thread_local bool gCounting = false;
std::atomic<int> gAllocations{0};
}  // namespace

#ifndef CORVANE_SANITIZED
namespace {
void* countedAlloc(std::size_t size) {
    if (gCounting) gAllocations.fetch_add(1);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void countedFree(void* p) noexcept {
    if (p && gCounting) gAllocations.fetch_add(1);
    std::free(p);
}
}  // namespace

void* operator new(std::size_t size) {
    return countedAlloc(size);
}
void* operator new[](std::size_t size) {
    return countedAlloc(size);
}
void operator delete(void* p) noexcept {
    countedFree(p);
}
void operator delete[](void* p) noexcept {
    countedFree(p);
}
void operator delete(void* p, std::size_t) noexcept {
    countedFree(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    countedFree(p);
}
#endif

namespace corvane::test {
namespace {

using Output = EngineTest;

std::vector<float> ones(int n) {
    return std::vector<float>(n, 1.0f);
}

TEST_F(Output, VolumeRampsLinearlyOverOneBlockAndStartsAtItsTarget) {
    std::vector<float> l = ones(512), r = ones(512);
    float* io[2] = {l.data(), r.data()};
    set(kVolume, 0.5f);  // 0.25 * 4 = 1.0
    engine->applyMasterGain(512, io);
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(l[i], 1.0f) << i;  // no ramp from nothing

    set(kVolume, 1.0f);  // 4.0
    l = ones(512), r = ones(512);
    io[0] = l.data(), io[1] = r.data();
    engine->applyMasterGain(512, io);
    for (int i = 0; i < 512; ++i) {
        ASSERT_NEAR(l[i], 1.0 + 3.0 * i / 512.0, 1e-4) << i;
        ASSERT_EQ(r[i], l[i]) << i;
    }
    l = ones(512);
    io[0] = l.data();
    engine->applyMasterGain(512, io);
    EXPECT_EQ(l[0], 4.0f);
    EXPECT_EQ(l[511], 4.0f);
}

TEST_F(Output, VolumeLawDoublesOnlyForTheOwnHostWithNewerData) {
    engine->hostIsOwnHost = true;
    engine->dataVersion = 15;
    set(kVolume, 0.5f);
    EXPECT_EQ(engine->masterGain, 2.0f);
    engine->dataVersion = 14;
    set(kVolume, 0.5f);
    EXPECT_EQ(engine->masterGain, 1.0f);
}

TEST_F(Output, DcBlockerRemovesDcAndPassesAudio) {
    set(kOscSync, 1.0f);
    const int n = 512;
    std::vector<float> l(n), r(n);
    float* io[2] = {l.data(), r.data()};
    for (int b = 0; b < 100; ++b) {  // 1.16 s of DC; the 8 Hz pole decays in 20 ms
        std::fill(l.begin(), l.end(), 0.5f);
        std::fill(r.begin(), r.end(), -0.5f);
        engine->applyMasterGain(n, io);
    }
    EXPECT_LT(std::fabs(l[n - 1]), 1e-4f);
    EXPECT_LT(std::fabs(r[n - 1]), 1e-4f);

    double peak = 0.0;  // 1 kHz: |H| = 1 / sqrt(1 + (8/1000)^2), within 0.01% of 1
    for (int b = 0; b < 20; ++b) {
        for (int i = 0; i < n; ++i)
            l[i] = r[i] =
                static_cast<float>(std::sin(2 * std::numbers::pi * 1000.0 * (b * n + i) / kRate));
        engine->applyMasterGain(n, io);
        if (b >= 10)
            for (int i = 0; i < n; ++i)
                peak = std::max(peak, std::fabs(double(l[i])));
    }
    EXPECT_NEAR(peak, 1.0, 2e-3);

    set(kOscSync, 0.0f);
    std::fill(l.begin(), l.end(), 0.5f);
    engine->applyMasterGain(n, io);
    EXPECT_EQ(l[n - 1], 0.5f);
}

TEST_F(Output, ApplyProgramResendsTheStoredValuesAndRestoresTheEffectOrder) {
    struct Sink : EngineClient {
        std::vector<std::pair<int, float>> calls;
        void programValue(int i, float v) override { calls.emplace_back(i, v); }
        void arpNote(int, int, int32_t, int) override {}
    } sink;
    engine->client = &sink;
    engine->currentPatch().slots[kVolume] = 0.75f;
    for (int i = 0; i < 6; ++i)
        engine->effectOrder[i] = 5 - i;
    load({constantLoop()});
    engine->noteOn(60, 64);
    engine->applyProgram();
    EXPECT_EQ(activeVoices(), 0);
    ASSERT_EQ(sink.calls.size(), 337u);
    for (int i = 0; i < 337; ++i)
        EXPECT_EQ(sink.calls[i].first, i);
    EXPECT_EQ(sink.calls[kVolume].second, 0.75f);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(engine->effectOrder[i], i);

    engine->client = nullptr;  // without a client the engine takes the values itself
    engine->applyProgram();
    EXPECT_EQ(engine->masterGain, 0.75f * 0.75f * 4.0f);
}

TEST_F(Output, RenderingNotesAndGainAllocatesNothing) {
#ifdef CORVANE_SANITIZED
    GTEST_SKIP() << "the allocation count needs the plain allocator";
#endif
    ZoneSpec stereo;
    stereo.channels = 2;
    stereo.data.assign(2 * 4096, 0.25f);
    stereo.loopMode = 1;
    stereo.loopEnd = 4096.0;
    ZoneSpec mono = constantLoop(80, 127);
    load({stereo, mono});
    set(kOscSync, 1.0f);
    set(kGlide, 0.3f);
    std::vector<float> l(512), r(512), dl(512), dr(512);
    float* io[2] = {l.data(), r.data()};
    gAllocations = 0;
    gCounting = true;
    for (int block = 0; block < 20; ++block) {
        for (int k = 0; k < 8; ++k)
            engine->noteOn(30 + (block * 8 + k) % 90, 64);
        for (int done = 0; done < 512; done += 64)
            engine->renderVoices(64, l.data() + done, r.data() + done, dl.data() + done,
                                 dr.data() + done, done);
        for (int k = 0; k < 3; ++k)
            engine->noteOff(30 + (block * 5 + k) % 90);
        engine->applyMasterGain(512, io);
    }
    engine->allNotesOff(false);
    gCounting = false;
    EXPECT_EQ(gAllocations.load(), 0);
    EXPECT_EQ(activeVoices() > 0, true);
}

TEST_F(Output, BlocksWithTheArpeggiatorOnAllocateNothing) {
#ifdef CORVANE_SANITIZED
    GTEST_SKIP() << "the allocation count needs the plain allocator";
#endif
    auto host = [](vst::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) -> intptr_t {
        return opcode == vst::audioMasterVersion ? 2400 : 0;
    };
    auto synth = std::make_unique<VstSynth>(host);
    synth->setSampleRate(44100.0f);
    synth->setBlockSize(512);
    Harrow& h = synth->engine;
    ASSERT_TRUE(h.map.beginZones(1));
    SampleZone* z = h.map.appendZone();
    z->data = allocSampleData(1000, 256 * 2 * sizeof(float));
    std::fill(z->data, z->data + 1000, 0.5f);
    z->frameCount = 1000;
    z->channels = 1;
    z->loopMode = 1;
    z->loopEnd = 1000.0;
    z->bitsPerSample = 32;
    for (int s = 0; s < 32; ++s) {
        synth->setParameter(256 + s, s % 3 == 2 ? 0.0f : (1 + s) / 128.0f);
        synth->setParameter(288 + s, (16.0f * (s % 3) + 8.5f) / 128.0f);
    }
    synth->setParameter(320, 1.0f);
    synth->setParameter(114, 0.0f);
    synth->setParameter(71, 1.0f);  // 100 steps per second: several per block
    synth->setParameter(115, 1.0f);
    std::vector<float> l(20000), r(20000);
    float* io[2] = {l.data(), r.data()};
    int sounding = 0;
    gAllocations = 0;
    gCounting = true;
    for (int block = 0; block < 60; ++block) {
        synth->setParameter(125, float(block / 10));  // every mode code 0..5, then 6
        h.arpHeld[40 + block % 30] = 100;
        if (block % 7 == 6) h.arpHeld[40 + (block * 3) % 30] = 0;
        synth->processReplacing(nullptr, io, block == 30 ? 20000 : 512);
        for (const Voice& v : h.voices)
            sounding += v.active && !v.released;
    }
    synth->setParameter(115, 0.0f);
    synth->processReplacing(nullptr, io, 512);
    gCounting = false;
    EXPECT_GT(sounding, 0);  // the arpeggiator did play
    EXPECT_EQ(gAllocations.load(), 0);
}

}  // namespace
}  // namespace corvane::test
