#!/usr/bin/env bash
# Benchmarks: update.exe under Wine against the conformant floor, the bare walk, Wine's xcopy and
# native cp -r over generated trees, start-up against a one-box program, and the native
# micro-benchmarks of the readers. See bench/run_bench.py and docs/benchmarks.md.
#   bash scripts/bench.sh [--rounds N] [--smoke] [--doc docs/benchmarks.md]
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 bench/run_bench.py "$@"
