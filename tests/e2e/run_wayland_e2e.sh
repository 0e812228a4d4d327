#!/usr/bin/env bash
# Drives the real quillor as a Wayland client of mutter, nested in a virtual X display: the
# locked window shows, the master password unlocks it, a password copied with Ctrl+C leaves the
# clipboard 30 seconds later while another client has the keyboard, for Wayland's readers and for
# XWayland's, and closing keeps the stored position, which a Wayland client never learns. Keys go
# to mutter's one window on the X display, and mutter hands them to the client it focuses.
# Exits 77 (skipped) when mutter or a Wayland part is missing or cannot start here.
#   tests/e2e/run_wayland_e2e.sh BUILD_DIR
set -uo pipefail

build=$(cd "${1:?usage: run_wayland_e2e.sh BUILD_DIR}" && pwd) || exit 2
quillor=$build/quillor
readonly SKIP=77

for tool in mutter Xwayland dbus-daemon wl-paste wl-copy xclip zenity; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (./dev.sh installs it)"
        exit $SKIP
    fi
done
# shellcheck source=tests/e2e/xsession.sh
source "$(dirname "$0")/xsession.sh"

# shellcheck source=tests/e2e/steps.sh
source "$(dirname "$0")/steps.sh"
nested=
save_failure_screen() {
    [[ -n $nested ]] && import -window "$nested" "$build/e2e-wayland-failure.png"
}
print_logs() {
    local log
    for log in "$work"/*.log; do
        echo "---- $(basename "$log")"
        tail -n 40 "$log"
    done
}
finish() {
    [[ $failed -gt 0 && -n ${work:-} ]] && print_logs
    echo "e2e wayland: $passed passed, $failed failed"
    [[ $failed -eq 0 && $passed -gt 0 ]]
    exit
}
skip() {
    echo "SKIP: $*"
    print_logs
    exit $SKIP
}

# Waits up to 10 s for the socket $1 to take connections.
wait_socket() {
    local _
    for _ in {1..200}; do
        [[ -S $1 ]] && return 0
        sleep 0.05
    done
    return 1
}

# A session bus of its own for mutter, which will not run without one; then mutter on the X
# display with its XWayland. Sets nested (its X window), xwayland_display and xwayland_auth.
start_mutter() {
    local bus=$XDG_RUNTIME_DIR/bus
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$bus" >"$work/dbus.log" 2>&1 &
    started_pids+=($!)
    wait_socket "$bus" || skip "the session bus for mutter does not start"
    # GNOME's own settings of the person running this stay out, as does any other session.
    DBUS_SESSION_BUS_ADDRESS=unix:path=$bus GSETTINGS_BACKEND=memory \
        mutter --nested --wayland --wayland-display=quillor-wayland >"$work/mutter.log" 2>&1 &
    local mutter_pid=$!
    started_pids+=("$mutter_pid")
    export WAYLAND_DISPLAY=quillor-wayland
    wait_socket "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ||
        skip "mutter does not open its Wayland socket here"

    local deadline=$((SECONDS + 15))
    while ((SECONDS < deadline)); do
        nested=$(xdotool search --onlyvisible --pid "$mutter_pid" 2>/dev/null | head -n 1)
        xwayland_display=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$work/mutter.log")
        xwayland_auth=$(compgen -G "$XDG_RUNTIME_DIR/.mutter-Xwaylandauth.*" | head -n 1)
        [[ -n $nested && -n $xwayland_display && -n $xwayland_auth ]] &&
            DISPLAY=$xwayland_display XAUTHORITY=$xwayland_auth xdpyinfo >/dev/null 2>&1 && break
        has_ended "$mutter_pid" && skip "mutter cannot run here"
        sleep 0.05
    done
    [[ -n $nested ]] || skip "mutter shows no window on the X display"
    DISPLAY=$xwayland_display XAUTHORITY=$xwayland_auth xdpyinfo >/dev/null 2>&1 ||
        skip "mutter's XWayland does not start"
    # Mutter ends its XWayland itself; should mutter fail to, it is ended after it.
    local xwayland_pid
    xwayland_pid=$(tr -d ' ' <"/tmp/.X${xwayland_display#:}-lock" 2>/dev/null)
    [[ -n $xwayland_pid ]] &&
        started_pids=("${started_pids[@]:0:${#started_pids[@]}-1}" "$xwayland_pid" "$mutter_pid")
    xdotool windowfocus --sync "$nested" 2>/dev/null
    echo "mutter on $DISPLAY (window $nested), Wayland display $WAYLAND_DISPLAY, XWayland $xwayland_display"
}

start_quillor() { # log name; sets app_pid
    # Under AddressSanitizer, leaks are not judged here: Qt's Wayland plugin keeps the token of
    # a window's activation and libwayland-client its proxies to the end. Every other run of the
    # program judges leaks; this one still stops at any other fault.
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
        QT_QPA_PLATFORM=wayland "$quillor" >"$work/$1.log" 2>&1 &
    app_pid=$!
    started_pids+=("$app_pid")
}

data_dir() { echo "$XDG_DATA_HOME/Application Data/Quillor"; }

# Points of the client area as the X run has them: the inside of the password box, white once
# the locked window is painted, and a point the black cover hides until the list shows there.
readonly BOX_X=440 BOX_Y=175 LIST_X=10 LIST_Y=150

# Where the client area of the Quillor window stands in mutter's window, found in a screenshot
# as the top left corner of the black cover, and whether the locked window is painted: the
# cover at the list's point and a white password box. Prints "X Y" once both are seen.
locked_origin() {
    import -window "$nested" -depth 8 ppm:- 2>/dev/null | python3 -c '
import sys
data = sys.stdin.buffer.read()
fields = data.split(maxsplit=4)
width, height, pixels = int(fields[1]), int(fields[2]), fields[4]
box_x, box_y, list_x, list_y = (int(a) for a in sys.argv[1:5])
def at(x, y):
    if not (0 <= x < width and 0 <= y < height):
        return None
    i = 3 * (y * width + x)
    return pixels[i:i + 3]
black, white = bytes(3), bytes([255] * 3)
# The title text may be black too, but never 40 pixels of it across and down.
for y in range(height):
    row = pixels[3 * y * width:3 * (y + 1) * width]
    if bytes(120) not in row:
        continue
    for x in range(width):
        if (at(x, y) == black and at(x + 40, y) == black and at(x, y + 40) == black and
                at(x - 1, y) != black and at(x, y - 1) != black):
            if at(x + list_x, y + list_y) == black and at(x + box_x, y + box_y) == white:
                print(x, y)
                sys.exit(0)
sys.exit(1)' $BOX_X $BOX_Y $LIST_X $LIST_Y
}

# Waits up to 15 s for the locked window; sets origin_x and origin_y.
wait_locked_window() {
    local deadline=$((SECONDS + 15)) found
    while ((SECONDS < deadline)); do
        if found=$(locked_origin); then
            read -r origin_x origin_y <<<"$found"
            return 0
        fi
        has_ended "$app_pid" && return 1
        sleep 0.1
    done
    return 1
}

# The colour at $1,$2 of the Quillor window's client area, as six lower-case hex digits.
client_pixel() {
    import -window "$nested" -crop "1x1+$((origin_x + $1))+$((origin_y + $2))" -depth 8 txt:- \
        2>/dev/null | sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | tr 'A-F' 'a-f'
}

wait_unlocked() {
    local deadline=$((SECONDS + 10))
    while ((SECONDS < deadline)); do
        [[ $(client_pixel $LIST_X $LIST_Y) == ffffff ]] && return 0
        sleep 0.05
    done
    return 1
}

# Where Qt draws the window's own title bar, the caption of the message window shown in mutter's
# window: found below its white text box (unique while the main window is locked and black), it
# must stand centred over the box, as the decoration centres a caption it does not cut.
# Prints the caption's columns and the box's centre; fails with 1 when no message window shows.
message_caption() {
    import -window "$nested" -depth 8 ppm:- 2>/dev/null | python3 -c '
import sys
fields = sys.stdin.buffer.read().split(maxsplit=4)
if len(fields) < 5:
    sys.exit(2)
width, height, pixels = int(fields[1]), int(fields[2]), fields[4]
def at(x, y):
    i = 3 * (y * width + x)
    return pixels[i:i + 3]
white = bytes([255] * 3)
for y in range(60, height - 150):
    row = pixels[3 * y * width:3 * (y + 1) * width]
    run = row.find(white * 300)
    if run >= 0 and run % 3 == 0 and all(at(run // 3, y + k) == white for k in range(0, 150, 10)):
        left, top = run // 3, y
        break
else:
    sys.exit(1)
right = left
while right + 1 < width and at(right + 1, top) == white:
    right += 1
# Dark columns of the title bar, in runs: icon, caption, buttons; a blank between words is
# narrower than the gaps between them. A caption cut off runs into the icon or the buttons.
columns = sorted({x for y in range(top - 60, top - 20) for x in range(left, right + 1)
                  if sum(at(x, y)) < 3 * 128})
runs = []
for x in columns:
    if runs and x - runs[-1][1] < 12:
        runs[-1][1] = x
    else:
        runs.append([x, x])
centre = (left + right) / 2
caption = min(runs, key=lambda r: abs((r[0] + r[1]) / 2 - centre), default=None)
if caption is None:
    sys.exit(3)
print(caption[0], caption[1], centre)'
}

# Whether the caption of the message window stands whole: its centre is within 4 pixels of the
# window's (the trailing blank of "Message " moves it 2 to the left), where a cut end would pull it
# aside. Waits up to 10 s for the window to be painted.
wait_whole_caption() {
    local deadline=$((SECONDS + 10)) found first last centre
    while ((SECONDS < deadline)); do
        if found=$(message_caption); then
            read -r first last centre <<<"$found"
            echo "   caption over columns $first to $last, the window's centre at $centre"
            python3 -c 'import sys; first, last, centre = map(float, sys.argv[1:])
sys.exit(0 if last > first and abs((first + last) / 2 - centre) <= 4 else 1)' \
                "$first" "$last" "$centre" && return 0
        fi
        sleep 0.2
    done
    return 1
}

wait_message_gone() {
    local deadline=$((SECONDS + 10))
    while ((SECONDS < deadline)); do
        message_caption >/dev/null
        (($? == 1)) && return 0
        sleep 0.1
    done
    return 1
}

# A first start on the Wayland platform: Qt finds its plugin or the run cannot be made here.
first_start() {
    start_quillor first
    if ! wait_locked_window; then
        grep -q 'platform plugin "wayland"' "$work/first.log" &&
            skip "Qt's Wayland platform plugin is missing (qt6-wayland)"
        fail "the locked window shows \"Type Your Password\" under mutter"
        return 1
    fi
    pass "the locked window shows \"Type Your Password\" under mutter"
    import -window "$nested" "$build/e2e-wayland-locked.png"

    xdotool type --delay 20 Guess1 && xdotool key Return
    check "the message window's caption under Qt's own title bar stands whole" wait_whole_caption
    import -window "$nested" "$build/e2e-wayland-message.png"
    xdotool key Return
    wait_message_gone || { fail "Return closes the message window"; return 1; }
    xdotool key Escape
    wait_exit "$app_pid" 15 || { fail "Escape ends the first start"; return 1; }
    check "the first start ends with exit code 0 (got $exit_code)" test "$exit_code" -eq 0
}

# The stored position (left and top, in twips) and the placement flag, in hex.
stored_position() {
    python3 - "$(data_dir)/QuiSetts.ini" <<'PY'
import sys
record = open(sys.argv[1], "rb").read()
print(record[0:8].hex(), record[184:188].hex())
PY
}

# What the clipboard holds, for a Wayland reader and for an X one.
read_wayland() {
    timeout 5 wl-paste --no-newline 2>/dev/null
}
read_xwayland() {
    DISPLAY=$xwayland_display XAUTHORITY=$xwayland_auth \
        timeout 5 xclip -o -selection clipboard 2>/dev/null
}

# How many pixels of Quillor's caption are dark, as when its window has the keyboard; its
# caption stands in the middle of the title bar above the client area.
dark_title_pixels() {
    import -window "$nested" -crop "300x20+$((origin_x + 150))+$((origin_y - 25))" -depth 8 \
        ppm:- 2>/dev/null | python3 -c '
import sys
fields = sys.stdin.buffer.read().split(maxsplit=4)
if len(fields) < 5:
    sys.exit(1)
pixels = fields[4]
print(sum(1 for i in range(0, len(pixels) - 2, 3) if sum(pixels[i:i + 3]) < 3 * 100))'
}

# Waits up to 10 s for Quillor's caption to be drawn as inactive: no dark pixels left in it.
wait_title_inactive() {
    local deadline=$((SECONDS + 10))
    while ((SECONDS < deadline)); do
        [[ $(dark_title_pixels) == 0 ]] && return 0
        sleep 0.1
    done
    return 1
}

# Waits up to $2 seconds for XWayland's clipboard to hold $1 (1) or no longer hold it (0).
wait_xwayland_clipboard() { # text, seconds, holds
    local deadline=$((SECONDS + $2)) holds
    while ((SECONDS < deadline)); do
        holds=0
        [[ $(read_xwayland) == "$1" ]] && holds=1
        [[ $holds == "$3" ]] && return 0
        sleep 0.2
    done
    return 1
}

# Unlocks, copies the password of the only entry, hands the keyboard to another client and
# waits out the clipboard's 30 seconds; then closes with Escape.
scenario_clipboard() {
    echo "== the copied password leaves the clipboard"
    local secret=wayland-s3cret-$RANDOM before
    printf 'Pomelo\n%s\n' "$secret" | "$build/quillor-cli" add --title Example \
        --url https://example.com --username alice >>"$work/cli.log" 2>&1 ||
        { fail "quillor-cli adds the entry"; return 1; }
    before=$(stored_position)

    start_quillor clipboard
    wait_locked_window || { fail "the locked window shows again"; return 1; }
    xdotool type --delay 20 Pomelo && xdotool key Return
    wait_unlocked || { fail "\"Pomelo\" unlocks the list"; return 1; }
    pass "\"Pomelo\" unlocks the list"
    import -window "$nested" "$build/e2e-wayland-unlocked.png"

    xdotool key ctrl+c
    local copied=$SECONDS
    check "after Ctrl+C XWayland's clipboard holds the password" \
        wait_xwayland_clipboard "$secret" 10 1 || return 1

    # zenity is a Wayland client too, and mutter gives a new window the keyboard.
    GDK_BACKEND=wayland zenity --info --title='Focus Taker' --text='Focus' \
        >"$work/zenity.log" 2>&1 &
    local taker=$!
    started_pids+=("$taker")
    wait_title_inactive || { fail "another client takes the keyboard from Quillor"; return 1; }
    check "with the keyboard elsewhere, Wayland's clipboard holds the password" \
        test "$(read_wayland)" = "$secret"
    import -window "$nested" "$build/e2e-wayland-focus-elsewhere.png"

    local wait_for=$((copied + 30 - SECONDS))
    echo "   waiting ${wait_for} s for the clipboard to be cleared"
    ((wait_for > 0)) && sleep "$wait_for"
    check "30 seconds after the copy XWayland's clipboard no longer holds the password" \
        wait_xwayland_clipboard "$secret" 10 0
    check "nor does Wayland's" test "$(read_wayland)" != "$secret"
    has_ended "$app_pid" && { fail "the program still runs after the clear"; return 1; }

    kill "$taker" 2>/dev/null
    wait_exit "$taker" 10
    # A click on the title bar gives the keyboard back.
    xdotool mousemove --window "$nested" $((origin_x + 150)) $((origin_y - 15)) click 1
    sleep 0.5
    xdotool key Escape
    wait_exit "$app_pid" 15 || { fail "Escape ends the program"; return 1; }
    check "Escape ends the program with exit code 0 (got $exit_code)" test "$exit_code" -eq 0
    check "the stored position and placement flag are kept byte for byte ($(stored_position))" \
        test "$(stored_position)" = "$before"
}

start_profile || { echo "FAIL: no temporary profile"; exit 1; }
unset QT_WAYLAND_DISABLE_WINDOWDECORATION QT_WAYLAND_SHELL_INTEGRATION QT_WAYLAND_DECORATION
start_display || { fail "a virtual X display starts"; finish; }
[[ -x $quillor ]] || { fail "the program is built at $quillor"; finish; }
rm -f "$build"/e2e-wayland-*.png
start_mutter

first_start && scenario_clipboard
finish
