#!/usr/bin/env bash
# Realtime factors of corvane-render: the demo song, and forty sustained voices (the bundled
# looped tone, all 40 playing voices busy for 20 s) at host blocks of 512 and 64 frames.
# usage: tools/render/benchmark.sh [BUILD_DIR]
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}
demo=$build/demo
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
run() {
  local label=$1
  shift
  printf '%-28s ' "$label"
  "$build/corvane-render" "$@" --out "$out/x.wav" | sed 's/ -> .*//'
}
program=()
[ -s "$demo/sustain.fxp" ] && program=(--program "$demo/sustain.fxp")
(cd "$out" && printf '%-28s ' "demo (block 512)" && "$build/corvane-render" | sed 's/ -> .*//')
run "40 voices, block 512" "${program[@]}" --instrument "$demo/sustain.sfz" \
  --midi "$demo/voices40.mid" --block 512 --tail 0
run "40 voices, block 64" "${program[@]}" --instrument "$demo/sustain.sfz" \
  --midi "$demo/voices40.mid" --block 64 --tail 0
