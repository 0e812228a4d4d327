#!/usr/bin/env bash
# One list in two places, kept in step by a real sync program: two Syncthing instances on the
# loopback interface share the data directory A of the real quillor window and a directory B
# that quillor-cli works on. B changes an entry, then adds one, while the window is open and
# unlocked on A; each time the window shows it, then deletes another entry; every change reaches
# both sides. Then the two sides change the list while apart, Syncthing keeps one version as a
# conflict copy, and quillor-cli merges it and puts it aside: every entry of both is on both
# sides at the end. Last, B sets a new master password; the open window on A locks and says why.
# Skipped (exit status 77) where syncthing or Xvfb is missing.
#   tests/e2e/run_sync_e2e.sh BUILD_DIR
set -uo pipefail

build=$(cd "${1:?usage: run_sync_e2e.sh BUILD_DIR}" && pwd) || exit 2
quillor=$build/quillor
cli=$build/quillor-cli
for tool in syncthing Xvfb; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (./dev.sh installs it)"
        exit 77
    fi
done
here=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=tests/e2e/xsession.sh
source "$here/xsession.sh"
# shellcheck source=tests/e2e/steps.sh
source "$here/steps.sh"
# shellcheck source=tests/e2e/window.sh
source "$here/window.sh"
save_failure_screen() {
    [[ -n ${DISPLAY:-} ]] && import -window root "$build/e2e-sync-failure.png"
}
finish() {
    if [[ $failed -gt 0 && -n ${work:-} ]]; then
        local log
        for log in "$work"/*.log; do
            echo "---- $(basename "$log")"
            tail -n 30 "$log"
        done
    fi
    echo "e2e-sync: $passed passed, $failed failed"
    [[ $failed -eq 0 && $passed -gt 0 ]]
    exit
}

readonly FOLDER=quillor
# Each side: its Syncthing home, device ID, sync and REST ports, process; its data directory.
declare -A st_home st_id st_port st_gui st_pid dir
apikey=
other() { [[ $1 == a ]] && echo b || echo a; }

stctl() { python3 "$here/stctl.py" "$@"; }
st_call() { # side, method, path
    stctl call "${st_gui[$1]}" "$apikey" "$2" "$3"
}
st_until() { # side, path, expression, seconds
    stctl until "${st_gui[$1]}" "$apikey" "$2" "$3" "$4"
}

# Syncthing for side $1, its home made and configured beforehand; waits for its REST API.
start_syncthing() {
    # Ended by its PID on the way out; should this script be killed instead, the kernel tells
    # Syncthing to stop.
    STNODEFAULTFOLDER=1 STNOUPGRADE=1 setpriv --pdeathsig TERM syncthing serve \
        --home="${st_home[$1]}" --no-browser --no-restart --no-upgrade --logfile=- \
        >"$work/syncthing-$1.log" 2>&1 &
    st_pid[$1]=$!
    started_pids+=("${st_pid[$1]}")
    # The device ID tells ours from another program that took the port first.
    st_until "$1" /rest/system/status "r['myID'] == '${st_id[$1]}'" 30
}

# Whether side $1 sees the other side connected ("True") or not ("False"), waiting up to 30 s.
wait_connected() { # side, True|False
    st_until "$1" /rest/system/connections \
        "r['connections']['${st_id[$(other "$1")]}']['connected'] == $2" 30
}

# Two fresh Syncthing homes that know each other, sharing dir[a] and dir[b]; both started and
# connected.
start_pair() {
    local side peer ports
    apikey=$(head -c 18 /dev/urandom | base64 | tr '+/' '-_')
    mapfile -t ports < <(stctl ports 4)
    st_port=([a]=${ports[0]} [b]=${ports[1]})
    st_gui=([a]=${ports[2]} [b]=${ports[3]})
    for side in a b; do
        st_home[$side]=$work/syncthing-$side
        syncthing generate --home="${st_home[$side]}" --no-default-folder \
            >"$work/generate-$side.log" 2>&1 || return 1
        st_id[$side]=$(syncthing serve --home="${st_home[$side]}" --device-id) || return 1
        mkdir -p "${dir[$side]}/.stfolder"
    done
    for side in a b; do
        peer=$(other $side)
        stctl configure "${st_home[$side]}/config.xml" --self "${st_id[$side]}" \
            --name "${side^^}" --listen "${st_port[$side]}" --gui "${st_gui[$side]}" \
            --apikey "$apikey" --peer "${st_id[$peer]}" --peer-port "${st_port[$peer]}" \
            --folder $FOLDER --path "${dir[$side]}" || return 1
    done
    start_syncthing a && start_syncthing b && wait_connected a True && wait_connected b True
}

# Waits until side $1's files are on the other side too: a scan on $1 takes in what changed
# there, then $1 waits for the other side to report itself complete, and the other side to
# need nothing.
in_step() { # side
    local peer
    peer=$(other "$1")
    st_call "$1" POST "/rest/db/scan?folder=$FOLDER" >/dev/null &&
        st_until "$1" "/rest/db/completion?folder=$FOLDER&device=${st_id[$peer]}" \
            'r["completion"] == 100 and r["needItems"] == 0 and r["needDeletes"] == 0' 20 &&
        st_until "$peer" "/rest/db/status?folder=$FOLDER" \
            'r["state"] == "idle" and r["needTotalItems"] == 0' 20
}

same_file() { # name
    cmp -s "${dir[a]}/$1" "${dir[b]}/$1"
}

# quillor-cli on side $1's data directory, the master password first on standard input.
cli_on() { # side, command and options...
    local side=$1
    shift
    "$cli" --data-dir "${dir[$side]}" "$@" 2>>"$work/cli-$side.log"
}

# The titles of side $1's list, one a line.
titles() {
    echo Pomelo | cli_on "$1" list --format tsv | tail -n +2 | cut -f 1
}

# Side $1's titles sorted on one line, compared with $2.
has_titles() { # side, titles sorted and separated by blanks
    local got
    got=$(titles "$1" | sort | tr '\n' ' ')
    [[ $got == "$2 " ]] || { echo "   side $1 lists: $got"; return 1; }
}

# A fingerprint of row $1 of the list as the window shows it.
row_print() {
    import -window "$main_wid" -crop "560x12+30+$((43 + 15 * $1))" -depth 8 rgb:- 2>/dev/null |
        sha256sum
}

# Waits up to $3 s for row $1 of the window to look other than $2, and says how long it took.
wait_row_changed() { # row, fingerprint, seconds
    local start deadline=$((SECONDS + $3))
    start=$(date +%s%N)
    while ((SECONDS < deadline)); do
        if [[ $(row_print "$1") != "$2" ]]; then
            echo "   shown $((($(date +%s%N) - start) / 1000000)) ms after the file was in place"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# A's first start lays in the default pair; quillor-cli adds five entries; then the two sides
# are put in step.
setup_lists() {
    echo "== two data directories in step"
    dir[a]=$(data_dir)
    dir[b]=$work/b-side
    mkdir -p "${dir[b]}" && chmod 700 "${dir[b]}"
    start_quillor first-start
    wait_locked_window "$app_pid" || return 1
    xdotool key Escape
    wait_exit "$app_pid" 15 || { fail "Escape ends the first start"; return 1; }
    local n
    for n in 1 2 3 4 5; do
        printf 'Pomelo\npass%s\n' $n | cli_on a add --title "T$n" --url "https://site$n.example" \
            --username "user$n" >/dev/null || { fail "quillor-cli adds entry T$n on A"; return 1; }
    done
    check "two Syncthing instances start and connect on the loopback interface" start_pair ||
        return 1
    in_step a || { fail "A's files reach B"; return 1; }
    check "B has A's link file" same_file QuiURL.dab
    check "B has A's password file" same_file QuiFil.ini
    check "B lists A's five entries" has_titles b "T1 T2 T3 T4 T5"
}

# The window is open and unlocked on A while B changes entry 3; the window shows B's change and
# deletes entry 5; both sides end with X3 and four entries. Then B adds an entry; the window
# shows it too and deletes entry 1.
scenario_change_under_window() {
    echo "== a change on B while the window is open on A"
    local pid before row3
    start_quillor window-a
    pid=$app_pid
    window_pid=$pid
    wait_locked_window "$pid" || return 1
    unlock_with_pomelo || { fail "\"Pomelo\" unlocks the list on A"; return 1; }
    check "the window on A keeps its lock out of the synced folders" \
        test -z "$(find "${dir[a]}" "${dir[b]}" -name '*.lock')"
    in_step a || { fail "A and B are in step with the window open"; return 1; }
    row3=$(row_print 3)

    echo Pomelo | cli_on b edit 3 --title X3 >/dev/null
    check "quillor-cli on B edits entry 3 while A's window is open (exit status $?)" test $? -eq 0
    in_step b || { fail "B's change reaches A"; return 1; }
    check "A has B's link file" same_file QuiURL.dab
    check "the window on A shows B's change within 10 s" wait_row_changed 3 "$row3" 10
    import -frame -window "$main_wid" "$build/e2e-sync-reloaded.png"

    # End selects the last row.
    delete_in_window "$pid" End "row 5" || return 1
    in_step a || { fail "A's delete reaches B"; return 1; }
    check "A lists X3 and four entries" has_titles a "T1 T2 T4 X3"
    check "B lists X3 and four entries" has_titles b "T1 T2 T4 X3"
    check "A and B hold the same link file" same_file QuiURL.dab

    echo "== an entry added on B while the window is open on A"
    local row5
    row5=$(row_print 5)
    printf 'Pomelo\npass6\n' | cli_on b add --title T6 --url https://site6.example >/dev/null
    check "quillor-cli on B adds an entry while A's window is open (exit status $?)" test $? -eq 0
    in_step b || { fail "B's new entry reaches A"; return 1; }
    check "the window on A shows B's new entry within 10 s" wait_row_changed 5 "$row5" 10
    # Home selects the first row; a list shorter than the file is no damaged record.
    delete_in_window "$pid" Home "row 1" || return 1
    in_step a || { fail "A's second delete reaches B"; return 1; }
    check "A lists B's new entry, without T1" has_titles a "T2 T4 T6 X3"
    check "B lists its new entry, without T1" has_titles b "T2 T4 T6 X3"
    check "A and B hold the same link file" same_file QuiURL.dab
    xdotool key Escape
    wait_exit "$pid" 15 || { fail "Escape ends the window on A"; return 1; }
    check "the window on A ends with exit code 0 (got $exit_code)" test "$exit_code" -eq 0
}

# Selects a row of the window of process $1 with key $2, deletes it with Delete and Yes, and
# waits for the link file on A to change.
delete_in_window() { # pid, key, what
    local before
    before=$(sha256sum <"${dir[a]}/QuiURL.dab")
    xdotool key "$2" Delete
    answer_yes "$1" "the question before deleting $3 on A" || return 1
    check "the window on A writes the delete of $3" wait_changed "${dir[a]}/QuiURL.dab" "$before" 10
    wait_active "$main_wid" || { fail "the focus comes back to A's window"; return 1; }
}

# Waits up to $3 s for file $1 to hash other than $2.
wait_changed() { # file, sha256 line, seconds
    local deadline=$((SECONDS + $3))
    while ((SECONDS < deadline)); do
        [[ $(sha256sum <"$1") != "$2" ]] && return 0
        sleep 0.1
    done
    return 1
}

# The conflict copies of the link file on side $1.
conflict_copies() {
    find "${dir[$1]}" -maxdepth 1 -name 'QuiURL.sync-conflict-*.dab' -printf '%f\n'
}

# Whether a folder in side $1's data directory holds a file with the bytes of file $2.
kept_below() { # side, file
    local kept
    while IFS= read -r -d '' kept; do
        cmp -s "$kept" "$2" && return 0
    done < <(find "${dir[$1]}" -mindepth 2 -type f -print0)
    return 1
}

# Waits up to $1 s for a conflict copy on either side; prints "side name".
wait_conflict_copy() {
    local deadline=$((SECONDS + $1)) side copy
    while ((SECONDS < deadline)); do
        for side in a b; do
            copy=$(conflict_copies $side | head -n 1)
            [[ -n $copy ]] && { echo "$side $copy"; return 0; }
        done
        sleep 0.1
    done
    return 1
}

# Both sides add an entry while their devices are paused; Syncthing keeps one version as a
# conflict copy, quillor-cli merges it, and both sides list every entry.
scenario_conflict() {
    echo "== a conflict copy merged"
    # A window left open by a failure above would keep quillor-cli out.
    if [[ -n ${window_pid:-} ]] && ! has_ended "$window_pid"; then
        kill -TERM "$window_pid"
        wait_exit "$window_pid" 15 || { fail "the window on A ends on SIGTERM"; return 1; }
    fi
    in_step a || { fail "A and B are in step after the window closed"; return 1; }
    st_call a POST "/rest/system/pause?device=${st_id[b]}" >/dev/null &&
        st_call b POST "/rest/system/pause?device=${st_id[a]}" >/dev/null &&
        wait_connected a False && wait_connected b False ||
        { fail "the devices are paused through the REST API"; return 1; }
    pass "the devices are paused through the REST API"
    printf 'Pomelo\npassA\n' | cli_on a add --title OnA --url https://a.example >/dev/null ||
        { fail "quillor-cli adds an entry on A"; return 1; }
    printf 'Pomelo\npassB\n' | cli_on b add --title OnB --url https://b.example >/dev/null ||
        { fail "quillor-cli adds an entry on B"; return 1; }
    st_call a POST "/rest/db/scan?folder=$FOLDER" >/dev/null &&
        st_call b POST "/rest/db/scan?folder=$FOLDER" >/dev/null &&
        st_call a POST "/rest/system/resume?device=${st_id[b]}" >/dev/null &&
        st_call b POST "/rest/system/resume?device=${st_id[a]}" >/dev/null &&
        wait_connected a True && wait_connected b True ||
        { fail "the devices are resumed and connect again"; return 1; }

    local found side copy
    found=$(wait_conflict_copy 20) || { fail "a conflict copy of QuiURL.dab appears"; return 1; }
    read -r side copy <<<"$found"
    pass "a conflict copy appears on ${side^^}: $copy"
    in_step a && in_step b || { fail "the two sides are in step with the conflict copy"; return 1; }
    check "the conflict copy is on both sides" \
        test "$(conflict_copies a)" = "$copy" -a "$(conflict_copies b)" = "$copy"
    echo Pomelo | "$cli" --data-dir "${dir[$side]}" list 2>"$work/list-notes.out" >/dev/null
    check "the conflict copy is named on standard error by quillor-cli list" \
        grep -q --fixed-strings "$copy" "$work/list-notes.out"

    cp "${dir[$side]}/$copy" "$work/conflict-copy.dab"
    echo Pomelo | cli_on "$side" merge "${dir[$side]}/$copy" >"$work/merge.out"
    check "quillor-cli merge takes in the conflict copy on ${side^^} (exit status $?)" test $? -eq 0
    sed 's/^/   /' "$work/merge.out"
    in_step "$side" || { fail "the merged list reaches the other side"; return 1; }
    check "A lists every entry of both" has_titles a "OnA OnB T2 T4 T6 X3"
    check "B lists every entry of both" has_titles b "OnA OnB T2 T4 T6 X3"
    check "A and B hold the same link file" same_file QuiURL.dab
    check "the conflict copy is moved aside on A" test -z "$(conflict_copies a)"
    check "the conflict copy is moved aside on B" test -z "$(conflict_copies b)"
    check "the conflict copy is kept in a folder of the data directory on A, to restore by hand" \
        kept_below a "$work/conflict-copy.dab"
    check "the conflict copy is kept in a folder of the data directory on B, to restore by hand" \
        kept_below b "$work/conflict-copy.dab"
}

# B gives the list a new master password while the window is open and unlocked on A: once both
# files have arrived, the window locks and says why, and the new password opens it.
scenario_new_password_elsewhere() {
    echo "== a new master password on B while the window is open on A"
    local pid all
    all=$(titles a | sort | tr '\n' ' ')
    start_quillor window-a-passwd
    pid=$app_pid
    wait_locked_window "$pid" || return 1
    unlock_with_pomelo || { fail "\"Pomelo\" unlocks the list on A"; return 1; }
    printf 'Pomelo\nKumquat\nKumquat\n' | cli_on b passwd >/dev/null
    check "quillor-cli on B sets a new master password while A's window is open (exit status $?)" \
        test $? -eq 0
    in_step b || { fail "B's new pair reaches A"; return 1; }
    check "A has B's password file" same_file QuiFil.ini
    check "A has B's link file" same_file QuiURL.dab
    answer_message "$pid" "the window on A locks and says why" "$build/e2e-sync-locked.png" ||
        return 1
    pass "the window on A says why it locks"
    check "the window on A is locked: the cover hides the list" \
        wait_pixel "$main_wid" $LIST_X $LIST_Y 000000
    wait_active "$main_wid" || { fail "the focus comes back to A's window"; return 1; }
    xdotool mousemove --window "$main_wid" $BOX_X $BOX_Y click 1
    xdotool key ctrl+a && xdotool type --delay 20 Kumquat && xdotool key Return
    check "the new password opens the window on A" \
        wait_pixel "$main_wid" $LIST_X $LIST_Y $LIST_COLOUR
    xdotool key Escape
    wait_exit "$pid" 15 || { fail "Escape ends the window on A"; return 1; }
    check "the window on A ends with exit code 0 (got $exit_code)" test "$exit_code" -eq 0
    in_step a || { fail "A and B are in step after the window closed"; return 1; }
    local got
    got=$(echo Kumquat | cli_on a list --format tsv | tail -n +2 | cut -f 1 | sort | tr '\n' ' ')
    check "A lists every entry under the new password" test "$got" = "$all"
    check "A and B hold the same pair" eval 'same_file QuiFil.ini && same_file QuiURL.dab'
}

start_session || { fail "a virtual display with a window manager starts"; finish; }
echo "display $DISPLAY, $(syncthing --version | cut -d' ' -f1-2)"
[[ -x $quillor && -x $cli ]] || { fail "the programs are built in $build"; finish; }
rm -f "$build"/e2e-sync-*.png

setup_lists && { scenario_change_under_window; scenario_conflict; scenario_new_password_elsewhere; }
finish
