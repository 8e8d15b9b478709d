#!/usr/bin/env bash
# Installs what is missing, builds, and renders the bundled demo song to demo.wav.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build/corvane-render
