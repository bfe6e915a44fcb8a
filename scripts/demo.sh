#!/usr/bin/env bash
# Demo: builds update.exe, lays out the sample game, registry key and update of examples/, runs
# the update under Wine, prints every box the player sees and what was copied, and saves
# screenshots under build/demo/. --display uses your $DISPLAY instead of a private Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 tests/e2e/demo.py "$@"
