#!/usr/bin/env bash
# Regenerates the editor screenshots in docs/ (one PNG per page) in a private Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target corvane-screenshots
mkdir -p docs
build/corvane-screenshots build/Corvane.so \
  "$(realpath ../shared/content/body-percussion/Programs/body_handclap.sfz)" docs
