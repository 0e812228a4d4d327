#!/usr/bin/env bash
# Runs the benchmarks and prints their figures: times per size, then the load/floor ratios and
# the peak memory of a 100,000-record load. Exits non-zero when the load fails or the peak
# memory is over its limit; times are printed, never judged.
#   bench/run.sh BUILD_DIR|QUILLOR_BENCH [benchmark flags...]
set -euo pipefail

target=${1:-build}
shift || true
if [[ -d $target ]]; then
    bench=$target/bench/quillor_bench
else
    bench=$target
fi
if [[ ! -x $bench ]]; then
    echo "run.sh: no benchmark binary at $bench (build the quillor_bench target)" >&2
    exit 2
fi

exec "$bench" "$@"
