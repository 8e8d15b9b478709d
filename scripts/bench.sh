#!/usr/bin/env bash
# The speed figures in one command: realtime factors of 40 voices (bare, filtered, full patch,
# and the full patch idle) at host blocks of 512 and 64 from the engine benchmark suite, the
# output checksums of the engine benchmarks, and the whole-process figures and output
# checksums of corvane-render. Each figure is the best of REPEATS runs, since other work on
# the machine only ever slows a run down.
# usage: scripts/bench.sh [BUILD_DIR] [REPEATS]   (REPEATS defaults to 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
repeats=${2:-5}
bench=$build/bench/corvane_bench
for tool in "$bench" "$build/corvane-render"; do
  [ -x "$tool" ] || { echo "bench.sh: $tool is missing; build first" >&2; exit 1; }
done
command -v jq >/dev/null || "$(dirname "$0")/install-deps.sh" --no-recommends jq
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$bench" --benchmark_filter='^(BM_Speed|BM_FortyVoices)' \
  --benchmark_repetitions="$repeats" --benchmark_enable_random_interleaving=true \
  --benchmark_min_time=0.3 --benchmark_format=json >"$out/suite.json" 2>/dev/null

# best realtime factor and the checksum label of one benchmark
best() {
  jq -r --arg name "$1" '[.benchmarks[] | select(.run_name == $name and .run_type == "iteration")]
    | "\((map(.realtime) | max * 10 | round / 10))x \(.[0].label | sub("checksum "; ""))"' \
    "$out/suite.json"
}

echo "Engine, 40 voices (best of $repeats; realtime factor, output checksum)"
printf '  %-10s %-22s %-22s\n' "set-up" "block 512" "block 64"
setups=(bare filtered full idle)
for s in 0 1 2 3; do
  printf '  %-10s %-22s %-22s\n' "${setups[$s]}" "$(best "BM_Speed/setup:$s/block:512")" \
    "$(best "BM_Speed/setup:$s/block:64")"
done
echo "Engine benchmarks"
for name in BM_FortyVoicesStereoLoop BM_FortyVoicesFilteredModulated; do
  printf '  %-34s %s\n' "$name" "$(best "$name")"
done

# corvane-render: the whole plug-in through the VST interface, WAV writing included.
demo=$build/demo
program=()
[ -s "$demo/sustain.fxp" ] && program=(--program "$demo/sustain.fxp")
render() {
  local label=$1
  shift
  local top=0 line
  for ((i = 0; i < repeats; i++)); do
    line=$(cd "$out" && "$build/corvane-render" "$@" --out "$out/x.wav")
    top=$(echo "$line" | sed -n 's/.*(\([0-9.]*\)x realtime).*/\1/p' | awk -v t="$top" '{print ($1 > t) ? $1 : t}')
  done
  printf '  %-24s %6sx  %s\n' "$label" "$top" "$(cksum <"$out/x.wav" | cut -d' ' -f1)"
}
echo "corvane-render (best of $repeats; realtime factor, WAV checksum)"
render "demo, block 512"
render "40 voices, block 512" "${program[@]}" --instrument "$demo/sustain.sfz" \
  --midi "$demo/voices40.mid" --block 512 --tail 0
render "40 voices, block 64" "${program[@]}" --instrument "$demo/sustain.sfz" \
  --midi "$demo/voices40.mid" --block 64 --tail 0
