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

#include "BenchPatches.h"

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
    bench::setLfosAndRoutings(h);
}

// Every effect on with a patch-like setting: 8-stage phaser, simple delay, Diffuse-1 reverb,
// crunch distortion, a peak and a shelf band.
void setEffects(Harrow& h) {
    float values[43];
    std::copy(std::begin(bench::kEffectSettings), std::end(bench::kEffectSettings), values);
    values[0] = 2.0f / 6.0f;  // 8-stage phaser
    for (int k = 37; k < 43; ++k)
        values[k] = 1.0f;  // every effect on
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
