// Effect costs at 44.1 kHz in blocks of 512 frames. The "realtime" counter is seconds of
// stereo audio processed per second of CPU time.
#include <benchmark/benchmark.h>

#include "BenchPatches.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "dsp/LfoSine.h"
#include "dsp/Random.h"
#include "fx/EffectRack.h"

namespace {

using corvane::DelayModulation;
using corvane::EffectRack;
using corvane::Random;

constexpr int kBlock = 512;
constexpr double kRate = 44100.0;

// A patch-like setting of every effect; `effect` is switched on alone, or all with -1.
void configure(EffectRack& rack, int effect) {
    rack.prepare(kRate, dsp::kDefaultMaxBlock);
    rack.reset();
    const float* values = bench::kEffectSettings;  // 8-stage phaser set below, all off
    for (int i = 0; i < 43; ++i)
        rack.setParameter(79 + i, values[i]);
    rack.setParameter(79, 2.0f / 6.0f);  // 8-stage phaser
    static constexpr int kOnSlot[6] = {119, 120, 121, 116, 117, 118};
    for (int e = 0; e < 6; ++e)
        if (effect < 0 || effect == e) rack.setParameter(kOnSlot[e], 1.0f);
}

struct Signal {
    std::vector<float> left, right;
    Signal() : left(kBlock * 64), right(kBlock * 64) {
        Random r(99);
        for (size_t i = 0; i < left.size(); ++i) {
            left[i] = (static_cast<float>(r.next()) / 16384.0f - 1.0f) * 0.3f;
            right[i] = (static_cast<float>(r.next()) / 16384.0f - 1.0f) * 0.3f;
        }
    }
};

void runRack(benchmark::State& state, EffectRack& rack) {
    static const Signal signal;
    std::vector<float> l(kBlock), r(kBlock);
    float* io[2] = {l.data(), r.data()};
    DelayModulation mod;
    mod.phaseIncrement = static_cast<uint32_t>(4294967296.0 * 0.7 / kRate);
    mod.lfoTable = corvane::lfoSine();
    mod.depth = 0.05f;
    const int32_t order[6] = {0, 1, 2, 3, 4, 5};
    size_t offset = 0;
    for (auto _ : state) {
        std::memcpy(l.data(), signal.left.data() + offset, sizeof(float) * kBlock);
        std::memcpy(r.data(), signal.right.data() + offset, sizeof(float) * kBlock);
        offset = (offset + kBlock) % signal.left.size();
        rack.process(kBlock, io, order, 120.0f, mod);
        mod.phase += mod.phaseIncrement * kBlock;
        benchmark::DoNotOptimize(l.data());
        benchmark::DoNotOptimize(r.data());
    }
    state.counters["realtime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kBlock / kRate, benchmark::Counter::kIsRate);
}

// `effect` on alone (all with -1), with parameter `index` stepped by the benchmark argument.
void runSetting(benchmark::State& state, int effect, int index, float steps, float bias = 0.0f) {
    Random random;
    EffectRack rack(random);
    configure(rack, effect);
    rack.setParameter(index, static_cast<float>(state.range(0)) / steps + bias);
    runRack(state, rack);
}

void BM_Distortion(benchmark::State& state) {
    runSetting(state, EffectRack::kDistortion, 97, 8.0f);
}
BENCHMARK(BM_Distortion)->DenseRange(0, 8, 1);

void BM_Eq(benchmark::State& state) {
    runSetting(state, EffectRack::kEq1, 101, 2.0f);
}
BENCHMARK(BM_Eq)->DenseRange(0, 2, 1);

void BM_PhaserChorus(benchmark::State& state) {
    runSetting(state, EffectRack::kPhaser, 79, 6.0f, 0.001f);
}
BENCHMARK(BM_PhaserChorus)->DenseRange(0, 6, 1);

void BM_Delay(benchmark::State& state) {
    runSetting(state, EffectRack::kDelay, 85, 8.0f);
}
BENCHMARK(BM_Delay)->DenseRange(0, 8, 1);

void BM_Reverb(benchmark::State& state) {
    runSetting(state, EffectRack::kReverb, 91, 4.0f);
}
BENCHMARK(BM_Reverb)->DenseRange(0, 4, 1);

// All six on: 8-stage phaser, simple delay, Diffuse-1 reverb.
void BM_WholeRack(benchmark::State& state) {
    runSetting(state, -1, 91, 4.0f);
}
BENCHMARK(BM_WholeRack)->DenseRange(0, 4, 1);

// One effect type after a short burst of noise and then `range(2)` seconds of silence: the
// cost of the blocks that follow, which decaying states must not make dearer than the first
// second's. Arguments: effect number, type setting (of the effect's type slot), seconds.
void BM_IdleAfterSilence(benchmark::State& state) {
    static constexpr int kTypeSlot[6] = {97, 101, 106, 79, 85, 91};
    static constexpr float kTypeSteps[6] = {8.0f, 2.0f, 2.0f, 6.0f, 8.0f, 4.0f};
    const int effect = static_cast<int>(state.range(0));
    Random random;
    EffectRack rack(random);
    configure(rack, effect);
    rack.setParameter(82, 0.0f);  // chorus and phaser feedback as the init patch has it
    rack.setParameter(kTypeSlot[effect],
                      static_cast<float>(state.range(1)) / kTypeSteps[effect] + 0.001f);
    static const Signal signal;
    std::vector<float> l(kBlock), r(kBlock);
    float* io[2] = {l.data(), r.data()};
    DelayModulation mod;
    mod.lfoTable = corvane::lfoSine();
    const int32_t order[6] = {0, 1, 2, 3, 4, 5};
    const long silentBlocks = static_cast<long>(state.range(2) * kRate / kBlock);
    for (long b = 0; b < 16 + silentBlocks; ++b) {
        if (b < 16) {
            std::memcpy(l.data(), signal.left.data() + b * kBlock, sizeof(float) * kBlock);
            std::memcpy(r.data(), signal.right.data() + b * kBlock, sizeof(float) * kBlock);
        } else {
            std::fill(l.begin(), l.end(), 0.0f);
            std::fill(r.begin(), r.end(), 0.0f);
        }
        rack.process(kBlock, io, order, 120.0f, mod);
    }
    for (auto _ : state) {
        std::fill(l.begin(), l.end(), 0.0f);
        std::fill(r.begin(), r.end(), 0.0f);
        rack.process(kBlock, io, order, 120.0f, mod);
        benchmark::DoNotOptimize(l.data());
    }
}
void idleArguments(benchmark::internal::Benchmark* b) {
    static constexpr int kTypes[6] = {9, 3, 0, 7, 9, 5};
    for (int effect : {0, 1, 3, 4, 5})
        for (int type = 0; type < kTypes[effect]; ++type)
            for (int seconds : {0, 60})
                b->Args({effect, type, seconds});
}
BENCHMARK(BM_IdleAfterSilence)
    ->Apply(idleArguments)
    ->Iterations(86)  // one second of blocks
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

// The benchmark program's entry point belongs to the engine benchmark (BENCHMARK_MAIN); this
// weak stand-in runs the effect and loading benchmarks when they are built without it.
__attribute__((weak)) int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
