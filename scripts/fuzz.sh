#!/usr/bin/env bash
# Runs every fuzz target for the given number of seconds each (default 60), starting from the
# seed corpora in tests/fuzz/corpus. New inputs go to a scratch folder, not into the repository.
#   bash scripts/fuzz.sh 600     # ten minutes per target
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

bash scripts/setup.sh >/dev/null
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

scratch=$(mktemp -d /tmp/updater-fuzz-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failed=0
summary=()
for target in build/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    mkdir -p "$scratch/$name"
    log="$scratch/$name.log"
    if "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$scratch/$name-" "$scratch/$name" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed=1
        tail -40 "$log"
        mkdir -p build/fuzz-findings && cp "$scratch/$name"-* build/fuzz-findings/ 2>/dev/null || true
    fi
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
    line="$name: $status, $runs executions in ${seconds}s"
    echo "$line"
    summary+=("$line")
done
echo "fuzz summary: ${#summary[@]} targets, $([ "$failed" -eq 0 ] && echo 'no findings' || echo 'FINDINGS in build/fuzz-findings')"
exit "$failed"
