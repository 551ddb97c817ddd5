#!/usr/bin/env bash
# Installs everything Cradlecourier needs to build, test and benchmark, from
# Debian's packages only. Safe to run again; run as root (or with sudo).
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  # build tools
  build-essential cmake ninja-build pkg-config git clang-format
  # libraries
  libgtest-dev libgmock-dev zlib1g-dev libjpeg62-turbo-dev libusb-1.0-0-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # the handheld's picture viewer: 68k cross compiler and the CPU emulator its tests run it in
  gcc-m68k-linux-gnu libunicorn-dev
  # fuzzing (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes, the symbolizer
  clang-14 libclang-rt-14-dev llvm-14
  # independent readers and reference tools used by tests and benchmarks
  libpalm-perl txt2pdbdoc imagemagick python3 time
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
