// Loading the CC0 handclap instrument (24 stereo float samples, about 13 MB) from disk.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "engine/Harrow.h"

namespace {

void BM_LoadHandclapSfz(benchmark::State& state) {
    const std::filesystem::path sfz = std::filesystem::path(CORVANE_SHARED_DIR) / "content" /
                                      "body-percussion" / "Programs" / "body_handclap.sfz";
    if (!std::filesystem::exists(sfz)) {
        state.SkipWithError("no shared content");
        return;
    }
    corvane::Harrow engine;
    for (auto _ : state) {
        engine.loadFromPath(sfz.c_str());
        benchmark::DoNotOptimize(engine.map.zones);
    }
    state.counters["zones"] = engine.map.zoneCount;
}
BENCHMARK(BM_LoadHandclapSfz)->Unit(benchmark::kMillisecond);

}  // namespace
