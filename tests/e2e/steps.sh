# shellcheck shell=bash
# The PASS and FAIL lines of an end-to-end run, and their counts. A script that defines
# save_failure_screen has it called at each failure, to keep what the screen showed.

passed=0
failed=0
pass() {
    echo "PASS: $*"
    passed=$((passed + 1))
}
fail() {
    echo "FAIL: $*"
    failed=$((failed + 1))
    declare -F save_failure_screen >/dev/null && save_failure_screen 2>/dev/null
    return 1
}
check() { # description, command...
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
