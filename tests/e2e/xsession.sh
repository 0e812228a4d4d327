# shellcheck shell=bash
# A private X session for driving the real program: Xvfb on a free display, openbox on it, and a
# temporary profile, cleaned up on exit. Sourced by the end-to-end test and the start-up
# benchmark. Every wait here is bounded.

for tool in Xvfb openbox xdotool xdpyinfo xprop import python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL: $tool is missing (./dev.sh installs it)"
        exit 1
    fi
done

work=
xvfb_pid=
openbox_pid=
started_pids=()

end_session() {
    local pid _ i
    local pids=()
    # The last started first: a client before its compositor.
    for ((i = ${#started_pids[@]} - 1; i >= 0; i--)); do
        pids+=("${started_pids[i]}")
    done
    for pid in "${pids[@]}" $openbox_pid $xvfb_pid; do
        if kill -0 "$pid" 2>/dev/null; then
            kill "$pid" 2>/dev/null
            # One that ignores the request is killed; the wait must not hang the run.
            for _ in {1..100}; do
                has_ended "$pid" && break
                sleep 0.05
            done
            has_ended "$pid" || kill -KILL "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
        fi
    done
    [[ -n $work ]] && rm -rf "$work"
}

# Xvfb on the first free display of :90..:99. Another server may take a display between the
# check and the start, so the display counts as ours only once its lock names our server.
start_display() {
    local n _
    for n in {90..99}; do
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
        Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
        xvfb_pid=$!
        for _ in {1..100}; do
            kill -0 "$xvfb_pid" 2>/dev/null || break
            if xdpyinfo -display ":$n" >/dev/null 2>&1 &&
                [[ $(tr -d ' ' <"/tmp/.X$n-lock" 2>/dev/null) == "$xvfb_pid" ]]; then
                export DISPLAY=:$n
                return 0
            fi
            sleep 0.05
        done
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
    done
    echo "no free X display in :90..:99" >&2
    return 1
}

# The temporary profile, removed on exit with every process listed in started_pids.
start_profile() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/quillor-x.XXXXXX") || return 1
    trap end_session EXIT
    trap 'exit 130' INT TERM
    mkdir -p "$work"/{home,config,cache,data,runtime}
    chmod 700 "$work/runtime"
    # Nothing of the person running this leaks in: settings, fonts cache, scaling.
    export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache
    export XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/runtime
    export QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8
    unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_FONT_DPI \
        QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE SESSION_MANAGER
    # No session bus: without an address libdbus would try to launch one for the display.
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/runtime/no-bus
}

start_session() {
    start_profile || return 1
    start_display || return 1
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    openbox_pid=$!
    local _
    for _ in {1..100}; do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        kill -0 "$openbox_pid" 2>/dev/null || break
        sleep 0.05
    done
    echo "openbox did not start" >&2
    cat "$work/openbox.log" >&2
    return 1
}

# Whether process $1 has ended (bash reaps its children itself; a zombie counts as ended).
has_ended() {
    ! kill -0 "$1" 2>/dev/null || [[ $(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null) == Z* ]]
}

# Waits up to $2 seconds for process $1 to end; sets exit_code.
# shellcheck disable=SC2034 # read by the scripts that source this one
wait_exit() {
    local deadline=$((SECONDS + $2))
    until has_ended "$1"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
    wait "$1"
    exit_code=$?
}

# Prints the first visible window of process $1 whose name matches $2, waiting up to 15 s.
# (xdotool's own --sync looks only twice a second.)
wait_for_window() {
    local deadline=$((SECONDS + 15)) found
    while ((SECONDS < deadline)); do
        found=$(xdotool search --all --onlyvisible --pid "$1" --name "$2" 2>/dev/null | head -n 1)
        if [[ -n $found ]]; then
            echo "$found"
            return 0
        fi
        sleep 0.02
    done
    return 1
}

wait_active() {
    local _
    for _ in {1..100}; do
        [[ $(xdotool getactivewindow 2>/dev/null) == "$1" ]] && return 0
        sleep 0.05
    done
    return 1
}

# Waits until window $1 is no longer shown.
wait_gone() {
    local _
    for _ in {1..100}; do
        xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable' || return 0
        sleep 0.05
    done
    return 1
}

# The colour at $2,$3 in window $1, as six lower-case hex digits.
pixel() {
    import -window "$1" -crop "1x1+$2+$3" -depth 8 txt:- 2>/dev/null |
        sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | tr 'A-F' 'a-f'
}

# Waits up to 10 s for the colour at $2,$3 in window $1 to be $4.
wait_pixel() {
    local deadline=$((SECONDS + 10))
    while ((SECONDS < deadline)); do
        [[ $(pixel "$1" "$2" "$3") == "$4" ]] && return 0
        sleep 0.05
    done
    return 1
}
