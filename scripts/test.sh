#!/usr/bin/env bash
# The whole test run on a fresh machine: install dependencies, configure, build, test.
# Usage: bash scripts/test.sh [preset]   (release by default; debug and asan also work)
#
# "windows" builds the Windows programs (preset windows) and runs their tests as Windows
# programs under Wine, then the Windows console and window under Wine against the Linux virtual
# handheld (the preset windows-e2e of the release build, whose programs it needs).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"

bash scripts/setup.sh
if [ "$preset" = windows ]; then
  cmake --preset release
  cmake --build --preset release -j "$(nproc)" --target cc-handheld ccourier-cli wine_console_test \
    wine_window_test
  cmake --preset windows
  cmake --build --preset windows -j "$(nproc)"
  ctest --preset windows
  ctest --preset windows-e2e
  exit 0
fi
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset"
