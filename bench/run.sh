#!/usr/bin/env bash
# The benchmark table: what a person waits for, each row a program set against its floor or a
# reference, whole processes taking turns (A B A B, quillor_pairs), with the smallest, median and
# largest of the pairs' time ratios and each side's peak memory. Windows run on the offscreen
# platform and are timed to the list's first finished paint; start-up runs on a virtual X
# display and is timed to the first frame sent to it (FirstFrame.cpp). Exits non-zero when a run
# fails or a peak memory is over its row's limit; times are printed, never judged.
#   bench/run.sh BUILD_DIR        RUNS=N in the environment sets the pairs of every row
set -uo pipefail

build=$(cd "${1:-build}" && pwd) || exit 2
bench=$build/bench
for program in "$build/quillor" "$build/quillor-cli" "$bench/quillor_pairs" \
    "$bench/libquillor_first_frame.so" "$bench/quillor_minimal_window" \
    "$bench/quillor_streaming_floor" "$bench/quillor_window_bench" \
    "$bench/quillor_rewrite_bench" "$bench/quillor_backup_bench" "$bench/quillor_findbar_bench"; do
    if [[ ! -e $program ]]; then
        echo "run.sh: $program is not built" >&2
        exit 2
    fi
done
# Rows of a few hundred milliseconds a run get more pairs than those that write 358 MB a run.
pairs=${RUNS:-11}
slow_pairs=${RUNS:-7}

files=$(mktemp -d "${TMPDIR:-/tmp}/quillor-bench.XXXXXX") || exit 2
trap 'rm -rf "$files"' EXIT
mkdir -m 700 "$files/runtime"
export XDG_RUNTIME_DIR=$files/runtime QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
# The master password of every file made here.
printf 'Pomelo tree 42\n' >"$files/password"

prepare() { # what, command...
    local what=$1
    shift
    "$@" || { echo "run.sh: cannot make $what" >&2; exit 1; }
}
for records in 100 10000 100000; do
    prepare "a profile of $records entries" "$bench/quillor_window_bench" make "$files/$records" "$records"
done
mkdir "$files/passwd" "$files/backup" "$files/backup/"floor-{back-up,undo,data}
prepare "the pair for Change Password" "$bench/quillor_rewrite_bench" make "$files/passwd" 100000
prepare "the pairs to back up" "$bench/quillor_backup_bench" make "$files/backup" 100000
data() { echo "$files/$1/Application Data/Quillor"; }

status=0
row() { # quillor_pairs arguments...
    "$bench/quillor_pairs" "$@"
    local code=$?
    ((code == 0)) || status=$code
}

# Figures from a busy machine read differently: how busy it was is printed with them.
load() { echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"; }
echo "Paired runs ($(load) at the start)"
echo
echo "| what | ours: median time, peak memory | floor or reference | time ratio min / **median** / max | memory ratio | target | pairs |"
echo "|---|---|---|---|---|---|---|"

floor=("$bench/quillor_streaming_floor")
for size in 10000:10,000 100000:100,000; do
    records=${size%:*}
    for format in text tsv json; do
        row --what "\`quillor-cli list\` $format, ${size#*:}" --pairs "$pairs" \
            --target "≤ 1.5×, memory ≤ 2×" --limit-mib 100 \
            --stdin "$files/password" "$build/quillor-cli" --data-dir "$(data "$records")" list \
            --format "$format" \
            --vs --name "streaming floor" --stdin "$files/password" "${floor[@]}" \
            "$(data "$records")/QuiURL.dab"
    done
done

window=("$bench/quillor_window_bench")
row --what "unlock to the painted list, 100,000" --pairs "$pairs" --target "≤ 1.5×, ≤ 50 MiB" \
    --limit-mib 100 --time reported "${window[@]}" unlock "$files/100000" 100000 \
    --vs --name "streaming floor in a running process" --time reported --stdin "$files/password" \
    "${floor[@]}" --ms "$(data 100000)/QuiURL.dab"
row --what "Add through the window to the repainted list, 100,000" --pairs "$pairs" \
    --target "≤ 1.2×" --limit-mib 100 --time reported "${window[@]}" add "$files/100000" 100000 \
    --vs --name "the same at 100" --time reported "${window[@]}" add "$files/100" 100

# Start-up on a display of its own; the profile is the session's, laid in by the first run.
(
    # shellcheck source=tests/e2e/xsession.sh
    source "$(dirname "$0")/../tests/e2e/xsession.sh"
    start_session >&2 || exit 1
    frame=(--time "first-frame=$bench/libquillor_first_frame.so")
    code=0
    for reference in "a window with a label, a button and a line edit" "a bare Qt window"; do
        minimal=("$bench/quillor_minimal_window")
        target="≤ 1.2×, memory ≤ 1.1×"
        if [[ $reference == "a bare Qt window" ]]; then
            minimal+=(--bare)
            target=
        fi
        "$bench/quillor_pairs" --what "start-up to the first frame of the locked window" \
            --pairs "$((pairs * 2))" --target "$target" --limit-mib 64 "${frame[@]}" \
            "$build/quillor" --vs --name "$reference" "${frame[@]}" "${minimal[@]}" || code=$?
    done
    # The frames timed were the locked window's only if the program, started as they were, still
    # comes up to that window and not to a message (one about a lock left by them, say).
    "$build/quillor" >/dev/null 2>&1 &
    started_pids+=($!)
    if ! wait_for_window "$!" '^Quillor CSP$' >/dev/null; then
        echo "run.sh: quillor did not start to its window; the start-up rows timed something else" >&2
        code=1
    fi
    exit $code
) || status=$?

for action in move delete; do
    row --what "$action at 100,000, to the repainted list" --pairs "$slow_pairs" \
        --target "≤ 1.2×" --limit-mib 100 --time reported "${window[@]}" "$action" \
        "$files/100000" 100000 \
        --vs --name "write floor" --time reported "$bench/quillor_rewrite_bench" write-floor \
        "$(data 100000)"
done
row --what "Replace at 100,000, to the repainted list" --pairs "$slow_pairs" --target "—" \
    --limit-mib 100 --time reported "${window[@]}" replace "$files/100000" 100000 \
    --vs --name "cp + fsync" --time reported "$bench/quillor_rewrite_bench" copy-floor \
    "$(data 100000)"
row --what "Change Password at 100,000" --pairs "$slow_pairs" --target "≤ 2×" --limit-mib 100 \
    --time reported "$bench/quillor_rewrite_bench" passwd "$files/passwd" \
    --vs --name "load + write floor" --time reported "$bench/quillor_rewrite_bench" \
    passwd-floor "$files/passwd"

# A back-up copies the pair once; a restore twice (the current pair into UnDo, the back-up pair
# into its place), and its floor copies the same two pairs.
copies() { # source target [source target]...: cp each pair, then sync the copies
    local script='' synced=''
    while (($# >= 2)); do
        script+="cp '$1/QuiFil.ini' '$2/QuiFil.ini' && cp '$1/QuiURL.dab' '$2/QuiURL.dab' && "
        synced+="'$2/QuiFil.ini' '$2/QuiURL.dab' '$2' "
        shift 2
    done
    echo "${script}sync $synced"
}
b=$files/backup
row --what "back-up of a 100,000-entry pair" --pairs "$slow_pairs" --target "≤ 1.5×" \
    --limit-mib 40 "$bench/quillor_backup_bench" backup "$b" \
    --vs --name "cp + sync" /bin/sh -c "$(copies "$b/data" "$b/floor-back-up")"
row --what "restore of a 100,000-entry pair" --pairs "$slow_pairs" --target "≤ 1.5×" \
    --limit-mib 40 "$bench/quillor_backup_bench" restore "$b" \
    --vs --name "cp + sync" /bin/sh -c \
    "$(copies "$b/data" "$b/floor-undo" "$b/back-up" "$b/floor-data")"

echo
"$bench/quillor_findbar_bench" || status=$?
echo "($(load) at the end)"
exit $status
