# shellcheck shell=bash
# Steps on the real window of quillor, shared by the end-to-end runs: starting it, unlocking it,
# answering its message windows, reading its list off the screen. Sourced after xsession.sh and
# steps.sh; start_quillor needs $quillor.

# Points of the client area: the inside of the password box, white once the locked window is
# painted; and a point the black cover hides until the list, white, shows there after unlocking.
readonly BOX_X=440 BOX_Y=175 BOX_COLOUR=ffffff
readonly LIST_X=10 LIST_Y=150 LIST_COLOUR=ffffff

# shellcheck disable=SC2154 # $quillor and $work are set by the script that sources this one
start_quillor() { # log name; sets app_pid
    "$quillor" >"$work/$1.log" 2>&1 &
    app_pid=$!
    started_pids+=("$app_pid")
}

# Waits for the locked window of $1 to be shown, active and painted; sets main_wid.
wait_locked_window() {
    main_wid=$(wait_for_window "$1" '^Quillor CSP$') ||
        { fail "the window \"Quillor CSP\" appears"; return 1; }
    wait_active "$main_wid" || { fail "the new window gets the keyboard focus"; return 1; }
    wait_pixel "$main_wid" $BOX_X $BOX_Y $BOX_COLOUR ||
        { fail "the locked window shows its password box"; return 1; }
}

unlock_with_pomelo() {
    xdotool type --delay 20 Pomelo && xdotool key Return
    wait_pixel "$main_wid" $LIST_X $LIST_Y $LIST_COLOUR
}

# Answers the message window of process $1 with Return and waits for it to close.
answer_message() { # pid, what
    local msg
    msg=$(wait_for_window "$1" 'Message') || { fail "$2: the message window appears"; return 1; }
    wait_active "$msg" || { fail "$2: the message window has the keyboard focus"; return 1; }
    [[ -n ${3:-} ]] && import -frame -window "$msg" "$3" 2>/dev/null
    xdotool key Return
    wait_gone "$msg" || { fail "$2: Return on \"Okay\" closes the message window"; return 1; }
}

data_dir() { echo "$XDG_DATA_HOME/Application Data/Quillor"; }

# The first two rows of the list, inside the client area and clear of the row picture.
# shellcheck disable=SC2034 # read by the scripts that source this one
readonly ROW1="560x12+30+58" ROW2="560x12+30+73"

# How many pixels of the strip $2 (WxH+X+Y) of window $1 are not white.
marked_pixels() {
    import -window "$1" -crop "$2" -depth 8 txt:- 2>/dev/null | tail -n +2 | grep -vc '#FFFFFF'
}

# Answers the yes/no question of process $1 with Yes: the focus starts on "No".
answer_yes() { # pid, what
    local question
    question=$(wait_for_window "$1" 'Message') || { fail "$2: the question appears"; return 1; }
    wait_active "$question" || { fail "$2: the question has the keyboard focus"; return 1; }
    xdotool key --delay 20 Left space
    wait_gone "$question" || { fail "$2: space on \"Yes\" answers the question"; return 1; }
}
