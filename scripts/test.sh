#!/usr/bin/env bash
# The whole test run on a fresh machine: install dependencies, configure, build, test.
# Usage: bash scripts/test.sh [preset]   (release by default; debug and asan also work)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"

bash scripts/setup.sh
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset"
