#!/usr/bin/env bash
# Runs DevodTool on a virtual display (Xvfb) against the simulator whose socket Z31_USB_SOCKET
# names, and saves a picture of each page (<folder>/upgrade.png, <folder>/usersetting.png); then
# runs a database update from the shop that DEVOD_WEB_HOST and DEVOD_WEB_PORT name, with pictures
# of its dialogs and of its end.
#
# Every wait is bounded. When a step fails the script says which, names the log to read
# (<folder>/logs/xvfb.log, <folder>/logs/devodtool.log) and exits with 1; on every way out,
# including Ctrl-C and SIGTERM, it stops the virtual display and DevodTool first.
# DEVODTOOL names the program (default: build/bin/DevodTool of this checkout). With
# DEVOD_SERIAL_DEMO=1 the device is on a serial port (QVLIB_PORT_DIR): the search for it takes
# longer and the update chooses from the ".mob" catalogue.
set -Eeuo pipefail
# DevodTool runs in the current folder (its work file "tmpDB" lands there).
tool="${DEVODTOOL:-$(cd "$(dirname "$0")/.." && pwd)/build/bin/DevodTool}"
out="${1:-build/screenshots}"
logs="$out/logs"
mkdir -p "$out" "$logs"
xvfb_log="$logs/xvfb.log"
tool_log="$logs/devodtool.log"

xvfb_pid=""
tool_pid=""
# Ends one process we started: SIGTERM, then SIGKILL if it is still there after 5 s.
stop() {
    local pid="$1"
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
cleanup() {
    set +e  # every process is stopped, whatever fails on the way
    trap - ERR
    stop "$tool_pid"
    stop "$xvfb_pid"
}
trap cleanup EXIT
trap 'echo "screenshots: interrupted, stopping what it started" >&2; exit 130' INT
trap 'echo "screenshots: terminated, stopping what it started" >&2; exit 143' TERM
# A step that fails unexpectedly says so before the script ends.
trap 'echo "screenshots: line $LINENO: \"$BASH_COMMAND\" failed (exit $?); logs in $logs" >&2' ERR

fail() {  # message, log file
    echo "screenshots: $1" >&2
    if [ -n "${2:-}" ]; then
        echo "screenshots: its log is $2; the end of it:" >&2
        tail -n 20 "$2" >&2 || true
    fi
    exit 1
}

[ -x "$tool" ] || fail "no DevodTool program at $tool (build it first)"

# The X server picks a free display number itself and writes it to descriptor 3, so that no
# other display (a leftover one, somebody else's) is ever taken for ours.
display_file="$logs/xvfb.display"
: > "$display_file"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3> "$display_file" \
    > "$xvfb_log" 2>&1 < /dev/null &
xvfb_pid=$!
display=""
for _ in $(seq 300); do  # 30 s: a first start compiles its keyboard maps
    display="$(head -n 1 "$display_file" | tr -dc '0-9')"
    [ -n "$display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "the virtual display (Xvfb) did not start" "$xvfb_log"
    sleep 0.1
done
[ -n "$display" ] || fail "the virtual display (Xvfb) chose no display within 30 s" "$xvfb_log"
export DISPLAY=":$display"
answered=""
for _ in $(seq 300); do
    if timeout 5 xdpyinfo > /dev/null 2>&1; then answered=yes; break; fi
    kill -0 "$xvfb_pid" 2>/dev/null || fail "the virtual display (Xvfb) ended" "$xvfb_log"
    sleep 0.1
done
[ -n "$answered" ] || fail "the virtual display $DISPLAY did not answer within 30 s" "$xvfb_log"

# Each X tool call is bounded too: a display that stops answering must not hold us.
x() { timeout 20 "$@"; }

# Polls for a window whose name matches (other than the window `except`) and puts its id in
# `found`, or nothing after `seconds`. Fails at once when DevodTool has ended.
found=""
find_window() {  # name pattern, seconds[, except]
    found=""
    for _ in $(seq $(( $2 * 10 ))); do
        found="$(x xdotool search --name "$1" 2>/dev/null | grep -vx "${3:-none}" | head -n 1 || true)"
        [ -n "$found" ] && return 0
        if ! kill -0 "$tool_pid" 2>/dev/null; then
            local code=0
            wait "$tool_pid" || code=$?
            tool_pid=""
            fail "DevodTool ended (exit code $code) while waiting for the window '$1'" "$tool_log"
        fi
        sleep 0.1
    done
}

"$tool" > "$tool_log" 2>&1 < /dev/null &
tool_pid=$!
# A first start on a fresh machine builds font caches: allow it a minute.
find_window '^DevodTool$' 60
window="$found"
[ -n "$window" ] || fail "DevodTool did not open its window within 60 s" "$tool_log"

# The tool connects 500 ms after start and says so in a box: "SUCCESS" (empty text) or "FAIL".
# A serial search probes the ports for one model after the other, a few seconds each.
serial_demo="${DEVOD_SERIAL_DEMO:-0}"
connect_wait=20
[ "$serial_demo" = 1 ] && connect_wait=120
find_window '^(SUCCESS|FAIL)$' "$connect_wait"
box="$found"
[ -n "$box" ] || fail "DevodTool showed no connect result within $connect_wait s" "$tool_log"
if [ "$(x xdotool getwindowname "$box")" = "FAIL" ]; then
    fail "DevodTool did not find the simulated device" "$tool_log"
fi
x xdotool windowactivate --sync "$box" 2>/dev/null || true
x xdotool key --clearmodifiers Return
sleep 0.5

# Pictures are cut from the whole screen: a grab of the window alone can miss its background.
grab() {  # window id, file
    local X Y WIDTH HEIGHT
    eval "$(x xdotool getwindowgeometry --shell "$1" | grep -E '^(X|Y|WIDTH|HEIGHT)=[0-9]+$')"
    x import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$2"
}
grab "$window" "$out/upgrade.png"
# The second tab item, at its place in the window (it follows from the dialog font).
x xdotool mousemove --window "$window" 128 56 click 1
x xdotool mousemove --window "$window" 600 20  # away from the controls, no hover highlight
sleep 1
grab "$window" "$out/usersetting.png"
echo "Screenshots: $out/upgrade.png, $out/usersetting.png"

# Then a whole database update, driven by the keyboard: login, the database choice, the upload
# question, and the device write up to its completion message.
x xdotool mousemove --window "$window" 54 56 click 1  # back to the Upgrade tab
sleep 0.3
x xdotool mousemove --window "$window" 306 277 click 1  # "Click here to update GPS database"
find_window '^Kelvaro Login$' 20
login="$found"
[ -n "$login" ] || fail "the login dialog did not open within 20 s" "$tool_log"
x xdotool windowactivate --sync "$login" 2>/dev/null || true
x xdotool type --delay 20 "owner@example.com"
x xdotool key Tab
x xdotool type --delay 20 "secret"
grab "$login" "$out/login.png"
x xdotool key Return
find_window '^Select Database$' 30
select="$found"
[ -n "$select" ] || fail "the database choice did not open within 30 s (login or catalogue failed)" \
    "$tool_log"
x xdotool windowactivate --sync "$select" 2>/dev/null || true
# The catalogue offers "Z31 UK 2026-11" as its eighth entry; the serial catalogue offers its
# first ".mob" database as its sixth.
downs=8
[ "$serial_demo" = 1 ] && downs=6
for _ in $(seq "$downs"); do x xdotool key Down; done
sleep 0.3
grab "$select" "$out/select-database.png"
x xdotool key Return
# The download ends with the question "... Upload now?" in a box named after the program.
find_window '^DevodTool$' 30 "$window"
question="$found"
[ -n "$question" ] || fail "the upload question did not come within 30 s (download failed?)" \
    "$tool_log"
x xdotool windowactivate --sync "$question" 2>/dev/null || true
sleep 0.3
x xdotool key Return  # Yes
find_window '^(COMPLETE|ERROR|Error)$' 60
result="$found"
[ -n "$result" ] || fail "the database update did not end within 60 s" "$tool_log"
[ "$(x xdotool getwindowname "$result")" = "COMPLETE" ] ||
    fail "the database update failed: DevodTool shows '$(x xdotool getwindowname "$result")'" \
        "$tool_log"
grab "$window" "$out/update-complete.png"
echo "Database update shown: $out/login.png, $out/select-database.png, $out/update-complete.png"
