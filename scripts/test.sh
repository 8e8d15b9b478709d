#!/usr/bin/env bash
# Installs what is missing, builds, runs every test, then the interoperability checks and the
# Windows builds under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)"
scripts/interop/run.sh
scripts/windows/run.sh
