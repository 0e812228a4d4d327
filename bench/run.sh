#!/usr/bin/env bash
# Runs the benchmarks and prints their figures: times per size, then the load/floor ratios, the
# cost of adding an entry to a long list against a short one, and the peak memory of a
# 100,000-record load; quillor-cli list against a streaming floor; the rewrites, back-up and restore against their floors; then unlocking
# against loading, typing in the find bar, and start-up time and memory against an empty window (on a virtual X
# display). Exits non-zero when a load or an add fails, the peak memory is over its limit or a
# figure cannot be measured; times are printed, never judged.
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

status=0
"$bench" "$@" || status=$?

build=$(dirname "$bench")/..
bash "$(dirname "$0")/cli.sh" "$build" || status=$?
bash "$(dirname "$0")/rewrite.sh" "$build" || status=$?
bash "$(dirname "$0")/backup.sh" "$build" || status=$?
# Unlocking in the window against loading in the core, then start-up against an empty window.
QT_QPA_PLATFORM=offscreen "$build/bench/quillor_unlock_bench" || status=$?
QT_QPA_PLATFORM=offscreen "$build/bench/quillor_findbar_bench" || status=$?
bash "$(dirname "$0")/startup.sh" "$build" || status=$?
exit $status
