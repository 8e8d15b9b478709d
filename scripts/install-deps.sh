#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
# usage: scripts/install-deps.sh [--no-recommends] [EXTRA-PACKAGE...]
set -euo pipefail
apt_options=()
if [ "${1:-}" = "--no-recommends" ]; then
  apt_options=(--no-install-recommends)
  shift
fi
packages=(build-essential cmake pkg-config clang libclang-rt-14-dev lld
          libgtest-dev libgmock-dev libbenchmark-dev libsndfile1-dev
          libcurl4-openssl-dev libx11-dev libcairo2-dev libxtst-dev xvfb xauth fonts-dejavu-core
          "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  # 32-bit packages (wine32:i386 for the i686 Windows tests) need the i386 architecture.
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    if [ "$(id -u)" -eq 0 ]; then
      dpkg --add-architecture i386
    else
      echo "install-deps: the i386 architecture is needed; as root run" \
           "'dpkg --add-architecture i386', then run this again" >&2
      exit 1
    fi
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
    ${apt_options[@]+"${apt_options[@]}"} "${missing[@]}"
fi
