#!/usr/bin/env bash
# Release build into build/: Corvane.so, the tools, the tests and the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
