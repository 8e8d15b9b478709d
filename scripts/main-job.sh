#!/usr/bin/env bash
# Installs what is missing, builds, and shows what a host sees of Corvane.so.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build/corvane-hostinfo build/Corvane.so
