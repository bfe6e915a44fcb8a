#!/usr/bin/env bash
# Runs every test from a clean clone: installs what is missing, builds the Windows program, then
# runs the unit tests (host build, AddressSanitizer and UndefinedBehaviorSanitizer), the checks of
# the built .exe and the end-to-end scenarios under Wine, all through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake --preset win32 >/dev/null
cmake --build --preset win32

bash scripts/lint.sh

# Every fuzz target for a short while; scripts/fuzz.sh 600 runs them long.
bash scripts/fuzz.sh 10

# The benchmark harness once over a tiny tree, so that it keeps working; scripts/bench.sh runs it.
bash scripts/bench.sh --smoke

cmake --preset host >/dev/null
cmake --build --preset host -j2
ctest --preset host -j2
