#!/usr/bin/env bash
# Runs every libFuzzer target of a QUILLOR_FUZZ build for SECONDS each, one after the other, on
# its seeds, its kept crash inputs and the corpus earlier runs grew, and prints the executions.
# Exits non-zero when a target crashes, leaks, hangs or fails a check; its input is left in
# BUILD_DIR/fuzz-crashes/<target>/, to be kept in tests/fuzz/regressions/<target>/.
#   tests/fuzz/run_fuzz.sh BUILD_DIR [SECONDS]
set -uo pipefail

build=$(cd "${1:?usage: run_fuzz.sh BUILD_DIR [SECONDS]}" && pwd) || exit 2
seconds=${2:-300}
regressions=$(cd "$(dirname "$0")" && pwd)/regressions
if [[ ! -s $build/fuzz-targets.txt ]]; then
    echo "run_fuzz.sh: $build is not a QUILLOR_FUZZ build (no fuzz-targets.txt)" >&2
    exit 2
fi

failed=0
while read -r name; do
    corpus=$build/fuzz-corpus/$name
    crashes=$build/fuzz-crashes/$name
    log=$build/fuzz-logs/$name.log
    mkdir -p "$corpus" "$crashes" "$(dirname "$log")"
    inputs=("$corpus" "$build/fuzz-seeds/$name")
    [[ -d $regressions/$name ]] && inputs+=("$regressions/$name")
    # New inputs go to the first directory only; the seeds and the kept inputs stay as they are.
    "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$crashes/" "${inputs[@]}" >"$log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [[ $status -eq 0 ]]; then
        printf '%-16s %12s executions in %ss\n' "$name" "${runs:-?}" "$seconds"
    else
        failed=1
        printf '%-16s FAILED (exit %d) after %s executions; log: %s\n' "$name" "$status" \
            "${runs:-?}" "$log"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*check failed|artifact_prefix|Test unit written)' \
            "$log" | head -n 20
    fi
done <"$build/fuzz-targets.txt"
exit $failed
