// The speed suite: 40 sustained voices through the whole engine block as the plug-in renders
// it (voices in sub-blocks of 64 frames, global modulation, effect rack, dry mix, master
// gain), at host blocks of 512 and 64 frames. Three set-ups:
//   bare      no filter, no modulation, no effects
//   filtered  a resonant low-pass with its envelope
//   full      the filter, the three envelopes, three LFOs, eight matrix routings and all six
//             effects
// plus "idle": the full patch with no note playing. The "realtime" counter is seconds of
// audio rendered per second of CPU time; the label carries a checksum of the output, which
// an optimisation that keeps the results leaves unchanged. scripts/bench.sh runs the suite.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "content/SampleMap.h"
#include "engine/Harrow.h"

namespace {

using corvane::Harrow;

constexpr double kRate = 44100.0;
constexpr int kSubBlock = 64;

enum Setup { kBare, kFiltered, kFull, kIdle };

// The sample: a second of stereo noise, looped; 40 keys held from 40 up.
void loadSample(Harrow& h) {
    const int frames = 44100;
    corvane::SampleMap& map = h.map;
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
}

void setFilter(Harrow& h) {
    h.setParameter(22, 0.3f);  // filter envelope: attack, decay, sustain, release
    h.setParameter(23, 0.6f);
    h.setParameter(24, 0.5f);
    h.setParameter(25, 0.5f);
    h.setParameter(28, 0.4f);   // cutoff
    h.setParameter(29, 0.3f);   // resonance
    h.setParameter(30, 0.5f);   // envelope amount
    h.setParameter(126, 1.0f);  // low-pass
}

void setModulation(Harrow& h) {
    h.setParameter(60, 0.2f);  // modulation envelope: attack, decay, sustain, release
    h.setParameter(61, 0.5f);
    h.setParameter(62, 0.4f);
    h.setParameter(63, 0.5f);
    const float shapes[3] = {0.0f, 2.0f / 3.0f, 1.0f};  // Saw, Sine, S+H
    for (int k = 0; k < 3; ++k) {
        h.setParameter(33 + 9 * k, shapes[k]);
        h.setParameter(34 + 9 * k, 0.4f + 0.1f * k);
        h.setParameter(35 + 9 * k, 0.5f);
    }
    struct Routing {
        int source;
        float amount;  // slot value: 0.5 is 0
        int destination;
    };
    const Routing routings[8] = {
        {1, 1.0f, 3},     // Velocity -> Volume
        {13, 0.55f, 2},   // LFO 1 -> Pitch Fine
        {14, 0.65f, 5},   // LFO 2 -> Filter Cutoff
        {15, 0.75f, 4},   // LFO 3 -> Pan
        {25, 0.6f, 6},    // Mod Env -> Filter Env
        {6, 0.525f, 88},  // Random -> Level (dB)
        {2, 0.65f, 92},   // Note # -> Filter KeyTrk
        {7, 0.35f, 86},   // Const -> FX Dry/Wet
    };
    for (int i = 0; i < 8; ++i) {
        h.setParameter(128 + i, static_cast<float>(routings[i].source));
        h.setParameter(160 + i, routings[i].amount);
        h.setParameter(192 + i, static_cast<float>(routings[i].destination));
    }
}

// Every effect on with a patch-like setting: 8-stage phaser, simple delay, Diffuse-1 reverb,
// crunch distortion, a peak and a shelf band.
void setEffects(Harrow& h) {
    const float values[43] = {2.0f / 6.0f, 0.4f, 0.5f, 0.6f, 0.8f, 0.7f,   // phaser 79..84
                              0.0f,        0.4f, 0.5f, 0.4f, 0.4f, 0.35f,  // delay 85..90
                              0.0f,        0.5f, 0.6f, 0.4f, 0.2f, 0.2f,   // reverb 91..96
                              0.3f,        0.6f, 0.5f, 0.7f,               // distortion 97..100
                              0.0f,        0.5f, 0.5f, 0.7f, 0.0f,         // EQ-1 101..105
                              0.5f,        0.8f, 0.5f, 0.3f, 0.0f,         // EQ-2 106..110
                              0.0f,        0.0f, 0.0f, 0.0f, 0.0f,         // 111..115
                              1.0f,        1.0f, 1.0f, 1.0f, 1.0f, 1.0f};  // on switches 116..121
    for (int i = 0; i < 43; ++i)
        h.setParameter(79 + i, values[i]);
}

class Rig {
  public:
    Rig(Setup setup, int block) : block_(block), l_(block), r_(block), dl_(block), dr_(block) {
        h_ = std::make_unique<Harrow>();
        Harrow& h = *h_;
        h.prepare(static_cast<float>(kRate), dsp::kDefaultMaxBlock);
        h.reset();
        h.setParameter(18, 0.0f);  // amplitude envelope: instant attack, slow decay
        h.setParameter(19, 1.0f);
        h.setParameter(20, 0.8f);
        h.setParameter(21, 0.5f);
        h.setParameter(74, 0.5f);   // master gain 1
        h.setParameter(321, 1.0f);  // 40 voices
        if (setup != kBare) setFilter(h);
        if (setup == kFull || setup == kIdle) {
            setModulation(h);
            setEffects(h);
        }
        loadSample(h);
        if (setup != kIdle)
            for (int k = 0; k < 40; ++k)
                h.noteOn(40 + k, 100);
    }

    // One host block as the plug-in renders it.
    void render() {
        Harrow& h = *h_;
        const size_t bytes = sizeof(float) * static_cast<size_t>(block_);
        h.beginBlock();
        std::memset(l_.data(), 0, bytes);
        std::memset(r_.data(), 0, bytes);
        std::memset(dl_.data(), 0, bytes);
        std::memset(dr_.data(), 0, bytes);
        for (int done = 0; done < block_; done += kSubBlock) {
            const int n = std::min(kSubBlock, block_ - done);
            h.renderVoices(n, l_.data() + done, r_.data() + done, dl_.data() + done,
                           dr_.data() + done, done);
        }
        h.updateGlobalModulation();
        float* io[2] = {l_.data(), r_.data()};
        h.processEffects(block_, io, h.effectOrder, 120.0f);
        for (int i = 0; i < block_; ++i) {
            l_[i] += dl_[i];
            r_[i] += dr_[i];
        }
        h.advanceEffectPhase(block_);
        h.applyMasterGain(block_, io);
    }

    // FNV-1a over the output bits of `frames` frames; with `dump` the output is also written
    // there as raw interleaved floats, for comparing two builds sample by sample.
    uint32_t checksum(int frames, std::FILE* dump = nullptr) {
        uint32_t hash = 2166136261u;
        for (int done = 0; done < frames; done += block_) {
            render();
            if (dump)
                for (int i = 0; i < block_; ++i) {
                    const float frame[2] = {l_[i], r_[i]};
                    std::fwrite(frame, sizeof frame, 1, dump);
                }
            for (const std::vector<float>* ch : {&l_, &r_}) {
                for (float x : *ch) {
                    uint32_t bits;
                    std::memcpy(&bits, &x, sizeof bits);
                    hash = (hash ^ bits) * 16777619u;
                }
            }
        }
        return hash;
    }

    const float* left() const { return l_.data(); }

  private:
    int block_;
    std::unique_ptr<Harrow> h_;
    std::vector<float> l_, r_, dl_, dr_;
};

// Arguments: set-up, host block.
void BM_Speed(benchmark::State& state) {
    const Setup setup = static_cast<Setup>(state.range(0));
    const int block = static_cast<int>(state.range(1));
    Rig rig(setup, block);
    for (auto _ : state) {
        rig.render();
        benchmark::DoNotOptimize(rig.left());
        benchmark::ClobberMemory();
    }
    state.counters["realtime"] =
        benchmark::Counter(block / kRate, benchmark::Counter::kIsIterationInvariantRate);
    // CORVANE_BENCH_DUMP names a folder for the outputs (speed-SETUP-BLOCK.f32).
    std::FILE* dump = nullptr;
    if (const char* folder = std::getenv("CORVANE_BENCH_DUMP")) {
        char path[1024];
        std::snprintf(path, sizeof path, "%s/speed-%d-%d.f32", folder, static_cast<int>(setup),
                      block);
        dump = std::fopen(path, "wb");
    }
    char label[32];
    std::snprintf(label, sizeof label, "checksum %08x",
                  Rig(setup, block).checksum(3 * 44100, dump));
    if (dump) std::fclose(dump);
    state.SetLabel(label);
}
BENCHMARK(BM_Speed)
    ->ArgNames({"setup", "block"})
    ->ArgsProduct({{kBare, kFiltered, kFull, kIdle}, {512, 64}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
