// Engine throughput: 40 voices sustaining a looped stereo sample, host blocks of 512 frames
// at 44.1 kHz rendered in sub-blocks of 64 frames plus the master gain.
#include <benchmark/benchmark.h>

#include "BenchPatches.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "content/SampleMap.h"
#include "engine/Harrow.h"
#include "engine/Playback.h"

namespace {

using corvane::Harrow;

constexpr int kBlock = 512;
constexpr double kRate = 44100.0;

std::unique_ptr<Harrow> makeEngine() {
    auto h = std::make_unique<Harrow>();
    h->prepare(static_cast<float>(kRate), dsp::kDefaultMaxBlock);
    h->reset();
    h->setParameter(18, 0.0f);  // instant attack
    h->setParameter(19, 1.0f);  // slow decay
    h->setParameter(20, 0.8f);  // sustain 0.64
    h->setParameter(21, 0.5f);
    h->setParameter(74, 0.5f);   // master gain 1
    h->setParameter(321, 1.0f);  // 40 voices
    const int frames = 44100;
    corvane::SampleMap& map = h->map;
    map.beginZones(1);
    corvane::SampleZone* z = map.appendZone();
    z->data = corvane::allocSampleData(2 * frames, 256 * 2 * sizeof(float));
    corvane::Random random(1234);
    for (int i = 0; i < 2 * frames; ++i)
        z->data[i] = random.next() / 16384.0f - 1.0f;
    z->channels = 2;
    z->frameCount = frames;
    z->loopMode = 1;
    z->loopStart = 1000.0;
    z->loopEnd = frames - 1000.0;
    z->bitsPerSample = 32;
    for (int k = 0; k < 40; ++k)
        h->noteOn(40 + k, 100);
    return h;
}

struct Buses {
    std::vector<float> l = std::vector<float>(kBlock), r = std::vector<float>(kBlock);
    std::vector<float> dl = std::vector<float>(kBlock), dr = std::vector<float>(kBlock);
};

void renderBlock(Harrow& h, Buses& b) {
    std::fill(b.l.begin(), b.l.end(), 0.0f);
    std::fill(b.r.begin(), b.r.end(), 0.0f);
    std::fill(b.dl.begin(), b.dl.end(), 0.0f);
    std::fill(b.dr.begin(), b.dr.end(), 0.0f);
    for (int done = 0; done < kBlock; done += 64)
        h.renderVoices(64, b.l.data() + done, b.r.data() + done, b.dl.data() + done,
                       b.dr.data() + done, done);
    float* io[2] = {b.l.data(), b.r.data()};
    h.applyMasterGain(kBlock, io);
}

void modulate(Harrow& h);

// FNV-1a over the output bits of 200 blocks: equal before and after an optimisation.
// `modulated` renders the filtered and modulated set-up with its block calls.
uint32_t outputChecksum(bool modulated = false) {
    auto h = makeEngine();
    if (modulated) modulate(*h);
    Buses b;
    uint32_t hash = 2166136261u;
    for (int block = 0; block < 200; ++block) {
        if (modulated) h->beginBlock();
        renderBlock(*h, b);
        if (modulated) h->updateGlobalModulation();
        for (const std::vector<float>* ch : {&b.l, &b.r}) {
            for (float x : *ch) {
                uint32_t bits;
                std::memcpy(&bits, &x, sizeof bits);
                hash = (hash ^ bits) * 16777619u;
            }
        }
    }
    return hash;
}

void BM_FortyVoicesStereoLoop(benchmark::State& state) {
    auto h = makeEngine();
    Buses b;
    for (auto _ : state) {
        renderBlock(*h, b);
        benchmark::DoNotOptimize(b.l.data());
        benchmark::ClobberMemory();
    }
    // Audio seconds rendered per CPU second.
    state.counters["realtime"] =
        benchmark::Counter(kBlock / kRate, benchmark::Counter::kIsIterationInvariantRate);
    char label[32];
    std::snprintf(label, sizeof label, "checksum %08x", outputChecksum());
    state.SetLabel(label);
}
BENCHMARK(BM_FortyVoicesStereoLoop)->Unit(benchmark::kMicrosecond);

// Sample reading alone: one voice, 64 frames of a looped stereo zone a little above its root.
void BM_ReadStereoLoop(benchmark::State& state) {
    auto h = makeEngine();
    const corvane::SampleZone& z = h->map.zones[0];
    corvane::Voice v;
    v.zone = &z;
    float out[2 * 64];
    const double speed = 1.0594630943592953;
    for (auto _ : state) {
        corvane::readZone(v, z, speed, 64, out);
        benchmark::DoNotOptimize(out);
    }
    state.counters["frames"] =
        benchmark::Counter(64, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ReadStereoLoop);

// The same 40 voices with the modulators busy: a low-pass with its envelope, three LFOs
// and eight matrix routings (pitch, cutoff, pan, level, envelope amount, key tracking, send).
void modulate(Harrow& h) {
    h.setParameter(22, 0.3f);  // filter envelope: attack, decay, sustain, release
    h.setParameter(23, 0.6f);
    h.setParameter(24, 0.5f);
    h.setParameter(25, 0.5f);
    h.setParameter(28, 0.4f);   // cutoff
    h.setParameter(29, 0.3f);   // resonance
    h.setParameter(30, 0.5f);   // envelope amount
    h.setParameter(126, 1.0f);  // low-pass
    bench::setLfosAndRoutings(h);
}

void BM_FortyVoicesFilteredModulated(benchmark::State& state) {
    auto h = makeEngine();
    modulate(*h);
    Buses b;
    for (auto _ : state) {
        h->beginBlock();
        renderBlock(*h, b);
        h->updateGlobalModulation();
        benchmark::DoNotOptimize(b.l.data());
        benchmark::ClobberMemory();
    }
    state.counters["realtime"] =
        benchmark::Counter(kBlock / kRate, benchmark::Counter::kIsIterationInvariantRate);
    char label[32];
    std::snprintf(label, sizeof label, "checksum %08x", outputChecksum(true));
    state.SetLabel(label);
}
BENCHMARK(BM_FortyVoicesFilteredModulated)->Unit(benchmark::kMicrosecond);

// The arpeggiator's own work per 512-frame block (it runs frame by frame): Duophonic, three
// keys held, at the fastest free rate (argument 0) or in 1/16 notes at 120 BPM (argument 1);
// its notes go to a sink that only counts them.
void BM_ArpeggiatorBlock(benchmark::State& state) {
    auto h = makeEngine();
    for (int s = 0; s < 32; ++s) {
        h->setParameter(256 + s, s % 4 == 3 ? 0.0f : (1 + s) / 128.0f);
        h->setParameter(288 + s, (8.5f + s) / 128.0f);
    }
    h->setParameter(320, 1.0f);
    const bool sixteenths = state.range(0) == 1;
    h->setParameter(114, sixteenths ? 1.0f : 0.0f);
    h->setParameter(71, sixteenths ? 10.5f / 20.01f : 1.0f);  // 1/16, or 100 steps a second
    h->setParameter(125, 6.0f);
    h->setParameter(115, 1.0f);
    h->arpHeld[48] = h->arpHeld[55] = h->arpHeld[60] = 100;
    struct Counter : corvane::EngineClient {
        long notes = 0;
        void programValue(int, float) override {}
        void arpNote(int, int, int32_t, int) override { ++notes; }
    } counter;
    h->client = &counter;
    for (auto _ : state) {
        h->beginArpBlock();
        h->runArpeggiator(kBlock, 0);
        benchmark::DoNotOptimize(h->arpNoteBuffer);
        benchmark::ClobberMemory();
    }
    state.counters["notes/block"] = benchmark::Counter(static_cast<double>(counter.notes) /
                                                       static_cast<double>(state.iterations()));
}
BENCHMARK(BM_ArpeggiatorBlock)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
