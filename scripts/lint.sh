#!/usr/bin/env bash
# Static analysis of the program's own sources (cppcheck: warnings, portability, performance).
set -euo pipefail
cd "$(dirname "$0")/.."
cppcheck --quiet --enable=warning,portability,performance --std=c++17 --error-exitcode=1 \
    --inline-suppr -I . app settings install namelist update platform
echo "static analysis: clean"
