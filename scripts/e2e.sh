#!/usr/bin/env bash
# End-to-end tests of update.exe under Wine (see tests/e2e/run_e2e.py). Builds what it needs in
# build/e2e-win32 or build/e2e-win64, or uses --build-dir DIR. Needs the packages listed in
# tests/e2e/README.md. Exit code 0 only when every case passed.
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 tests/e2e/run_e2e.py "$@"
