#!/usr/bin/env bash
# Start-up against its floor, watched from outside on a virtual X display: the wall time from
# starting quillor to its window being shown, and its peak resident memory once painted, each
# set against an empty Qt Widgets window (quillor_minimal_window). Runs alternate between the
# two; the medians are printed. Exits non-zero only when a run cannot be measured.
#   bench/startup.sh BUILD_DIR [RUNS]
set -uo pipefail

build=$(cd "${1:?usage: startup.sh BUILD_DIR [RUNS]}" && pwd) || exit 2
runs=${2:-10}
quillor=$build/quillor
minimal=$build/bench/quillor_minimal_window
for program in "$quillor" "$minimal"; do
    if [[ ! -x $program ]]; then
        echo "startup.sh: $program is not built" >&2
        exit 2
    fi
done
# shellcheck source=tests/e2e/xsession.sh
source "$(dirname "$0")/../tests/e2e/xsession.sh"
start_session || exit 1

# Long enough for the first paint to be over before the peak memory is read.
readonly SETTLE=0.3

# Starts a program and waits for its window titled $1; appends the milliseconds it took and
# the peak resident kB to $2_ms and $2_kb.
measure() { # title, which, command...
    local title=$1 which=$2
    shift 2
    local start=${EPOCHREALTIME/./}
    "$@" >>"$work/$which.log" 2>&1 &
    local pid=$!
    started_pids+=("$pid")
    local deadline=$((SECONDS + 20))
    until xdotool search --all --onlyvisible --pid "$pid" --name "^$title\$" >/dev/null 2>&1; do
        if has_ended "$pid" || ((SECONDS >= deadline)); then
            echo "startup.sh: $which showed no window" >&2
            return 1
        fi
        sleep 0.002
    done
    local shown=${EPOCHREALTIME/./}
    sleep $SETTLE
    local kb
    kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
    local wid
    wid=$(xdotool search --all --onlyvisible --pid "$pid" --name "^$title\$" | head -n 1)
    # Closed the way a person closes it, so that the next start finds things as after a run.
    wait_active "$wid" || xdotool windowactivate --sync "$wid" >/dev/null 2>&1
    xdotool key Escape
    if ! wait_exit "$pid" 10; then
        echo "startup.sh: $which did not end on Escape" >&2
        return 1
    fi
    eval "${which}_ms+=($(((shown - start) / 1000)))"
    eval "${which}_kb+=($kb)"
}

quillor_ms=() quillor_kb=() minimal_ms=() minimal_kb=()
# The first start of each lays in the default files and fills caches: not counted.
measure 'Quillor CSP' quillor "$quillor" && measure Minimal minimal "$minimal" --stay || exit 1
quillor_ms=() quillor_kb=() minimal_ms=() minimal_kb=()
for ((i = 0; i < runs; i++)); do
    measure 'Quillor CSP' quillor "$quillor" || exit 1
    measure Minimal minimal "$minimal" --stay || exit 1
done

python3 - "$runs" "${quillor_ms[*]}" "${minimal_ms[*]}" "${quillor_kb[*]}" "${minimal_kb[*]}" <<'EOF'
import statistics, sys
runs = sys.argv[1]
q_ms, m_ms, q_kb, m_kb = (statistics.median(map(int, a.split())) for a in sys.argv[2:])
print(f"startup wall time quillor/minimal: {q_ms / m_ms:.2f} (target <= 1.5)"
      f"  [quillor {q_ms:.0f} ms, minimal {m_ms:.0f} ms, medians of {runs}]")
print(f"startup peak memory quillor/minimal: {q_kb / m_kb:.2f} (target <= 1.3)"
      f"  [quillor {q_kb / 1024:.1f} MB, minimal {m_kb / 1024:.1f} MB, medians of {runs}]")
EOF
