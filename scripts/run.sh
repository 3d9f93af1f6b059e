#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: DevodTool connected to the bundled Z31
# simulator over our PipeBridge, with the local stand-in of the web shop for database updates
# (account owner@example.com, password secret). With a display DevodTool opens its window there;
# without one it runs on a virtual display (Xvfb) and leaves screenshots of both pages and of a
# database update in <build>/screenshots/.
#
# Every wait is bounded; a step that fails is named together with its log (the logs stay in
# <build>/run-logs/), and the exit code is not 0. Every process started here is stopped on every
# way out, Ctrl-C and SIGTERM included. DEVOD_BUILD_DIR names the build folder (default: build).
#
# With --serial the device is the serial simulator (z31sim, a Z31STD on COM3 of a port folder
# that QVLIB_PORT_DIR names) and nothing is on USB: DevodTool finds it through QVLib's finder and
# updates it from the shop's ".mob" catalogue.
set -Eeuo pipefail
serial=0
for arg in "$@"; do
    case "$arg" in
        --serial) serial=1 ;;
        *) echo "usage: $0 [--serial]" >&2; exit 2 ;;
    esac
done
trap 'echo "run: line $LINENO: \"$BASH_COMMAND\" failed (exit $?)" >&2' ERR
cd "$(dirname "$0")/.."
root="$PWD"
build="${DEVOD_BUILD_DIR:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac

./scripts/setup.sh run < /dev/null
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_TESTS=OFF \
      -DQV_BUILD_BENCH=OFF > /dev/null
cmake --build "$build" -j"$(nproc)"

logs="$build/run-logs"
rm -rf "$logs"
mkdir -p "$logs"
work="$(mktemp -d /tmp/devodtool-run-XXXXXX)"
export Z31_USB_SOCKET="$work/z31-usb.sock"
sim_pid=""
shop_pid=""
child_pid=""  # DevodTool, or the screenshot script
# Ends one process we started: SIGTERM, then SIGKILL if it is still there after `grace` seconds.
stop() {  # pid, grace
    local pid="$1"
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq $(( ${2:-5} * 10 ))); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
cleanup() {
    set +e  # every process is stopped, whatever fails on the way
    trap - ERR
    # The screenshot script stops its own display and DevodTool when told to: give it time.
    stop "$child_pid" 30
    stop "$shop_pid"
    stop "$sim_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "run: interrupted, stopping what it started" >&2; exit 130' INT
trap 'echo "run: terminated, stopping what it started" >&2; exit 143' TERM

fail() {  # message, log file
    echo "run: $1" >&2
    if [ -n "${2:-}" ]; then
        echo "run: its log is $2; the end of it:" >&2
        tail -n 20 "$2" >&2 || true
    fi
    exit 1
}

# Waits until `file` holds `text`, for at most 10 s, while process `pid` lives.
wait_for_line() {  # pid, file, text, what
    for _ in $(seq 100); do
        grep -q "$3" "$2" 2>/dev/null && return 0
        kill -0 "$1" 2>/dev/null || fail "$4 ended at start" "$2"
        sleep 0.1
    done
    fail "$4 did not start within 10 s" "$2"
}

if [ "$serial" -eq 1 ]; then
    # A Z31STD in normal operation on COM3, taking the host's bytes at the line speed; the USB
    # socket names nothing, so the USB probe finds no device.
    export QVLIB_PORT_DIR="$work/ports"
    mkdir -p "$QVLIB_PORT_DIR"
    sim_log="$logs/z31sim.log"
    "$build/sim/z31sim" --port-dir "$QVLIB_PORT_DIR" --port 3 --mode normal --pacing on \
        --points 5 > "$sim_log" 2>&1 < /dev/null &
    sim_pid=$!
    wait_for_line "$sim_pid" "$sim_log" "device on" "the serial simulator (z31sim)"
    export DEVOD_SERIAL_DEMO=1
else
    # A device with a settings record (km/h, 12-hour clock, UTC-9, warning 20 s), five user speeds
    # and a few user points to export.
    sim_log="$logs/z31usbsim.log"
    "$build/sim/usb/z31usbsim" --socket "$Z31_USB_SOCKET" --settings 000100018903 \
        --speeds 50,60,70,80,90 --points 5 > "$sim_log" 2>&1 < /dev/null &
    sim_pid=$!
    wait_for_line "$sim_pid" "$sim_log" "listening on" "the USB simulator (z31usbsim)"
fi

# The web shop on a free local port; DevodTool finds it through DEVOD_WEB_HOST and DEVOD_WEB_PORT.
shop_log="$logs/z31shop.log"
"$build/sim/shop/z31shop" --port 0 --account owner@example.com:secret \
    --log "$work/update-log.txt" > "$shop_log" 2>&1 < /dev/null &
shop_pid=$!
wait_for_line "$shop_pid" "$shop_log" "listening on" "the web shop stand-in (z31shop)"
export DEVOD_WEB_HOST=127.0.0.1
DEVOD_WEB_PORT="$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$shop_log" | head -n 1)"
[ -n "$DEVOD_WEB_PORT" ] || fail "the web shop stand-in named no port" "$shop_log"
export DEVOD_WEB_PORT
echo "Web shop stand-in on 127.0.0.1:$DEVOD_WEB_PORT (account owner@example.com / secret)"
# DevodTool writes its work file "tmpDB" into the current folder.
cd "$work"
export DEVODTOOL="$build/bin/DevodTool"

# DevodTool (or the screenshot script) runs in the background and is waited for, so that a
# signal reaches the trap at once and the trap can stop it.
code=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$DEVODTOOL" < /dev/null &
    child_pid=$!
    wait "$child_pid" || code=$?
    child_pid=""
    [ "$code" -eq 0 ] || fail "DevodTool ended with exit code $code (its message is above)"
else
    echo "No display: running DevodTool on a virtual display for a few seconds."
    shots="$build/screenshots"
    "$root/scripts/screenshots.sh" "$shots" < /dev/null &
    child_pid=$!
    wait "$child_pid" || code=$?
    child_pid=""
    [ "$code" -eq 0 ] || fail "showing DevodTool on a virtual display failed (logs in $shots/logs)"
fi
if [ -s "$work/update-log.txt" ]; then
    echo "Update log:"
    cat "$work/update-log.txt"
fi
