#!/usr/bin/env bash
# Installs everything Cradlecourier needs to build, test and benchmark, from
# Debian's packages only. Safe to run again; run as root (or with sudo).
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  # build tools
  build-essential cmake ninja-build pkg-config git clang-format ccache
  # libraries
  libgtest-dev libgmock-dev zlib1g-dev libjpeg62-turbo-dev libusb-1.0-0-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  # the window's screenshots and demo without a desktop: a virtual X server
  xvfb xauth x11-utils
  # the handheld's picture viewer: 68k cross compiler and the CPU emulator its tests run it in
  gcc-m68k-linux-gnu libunicorn-dev
  # fuzzing (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes, the symbolizer
  clang-14 libclang-rt-14-dev llvm-14
  # the Windows build (preset windows): mingw-w64 with POSIX threads, its zlib, GoogleTest's
  # sources to build for Windows, and Wine to run the Windows programs and tests
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine64
  # the Windows setup program (makensis); the Windows program's icons made from our SVGs
  nsis librsvg2-bin icoutils
  # independent readers and reference tools used by tests and benchmarks
  libpalm-perl txt2pdbdoc imagemagick python3 time
  # the desktop's own tools that the file-type tests and the package checks ask; xdotool
  # opens the window's dialogs for the screenshots
  xdg-utils desktop-file-utils shared-mime-info dpkg-dev xdotool
)

# As root, the udev rule that lets the desktop user open USB handhelds (uaccess) goes in
# place; without root it stays where it is and the README says how to install it.
install_udev_rule() {
  local rules="${UDEV_RULES_DIR:-/etc/udev/rules.d}"
  local rule
  rule="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/packaging/60-cradlecourier.rules"
  [ "$(id -u)" -eq 0 ] || return 0
  mkdir -p "$rules"
  if ! cmp -s "$rule" "$rules/60-cradlecourier.rules"; then
    install -m 0644 "$rule" "$rules/60-cradlecourier.rules"
    echo "setup: installed $rules/60-cradlecourier.rules"
    if command -v udevadm >/dev/null 2>&1; then
      udevadm control --reload-rules 2>/dev/null || true
      udevadm trigger --subsystem-match=usb 2>/dev/null || true
    fi
  fi
}
install_udev_rule

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
