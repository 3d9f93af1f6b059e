#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: DevodTool connected to the bundled Z31
# simulator over our PipeBridge, with the local stand-in of the web shop for database updates
# (account owner@example.com, password secret). With a display DevodTool opens its window there; without one it
# runs on a virtual display (Xvfb) and leaves screenshots of both pages in build/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF > /dev/null
cmake --build build -j"$(nproc)"

work="$(mktemp -d /tmp/devodtool-run-XXXXXX)"
export Z31_USB_SOCKET="$work/z31-usb.sock"
sim_pid=""
shop_pid=""
cleanup() {
    for pid in $sim_pid $shop_pid; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

# A device with a settings record (km/h, 12-hour clock, UTC-9, warning 20 s), five user speeds and
# a few user points to export.
./build/sim/usb/z31usbsim --socket "$Z31_USB_SOCKET" --settings 000100018903 \
    --speeds 50,60,70,80,90 --points 5 &
sim_pid=$!
for _ in $(seq 50); do [ -S "$Z31_USB_SOCKET" ] && break; sleep 0.1; done

# The web shop on a free local port; DevodTool finds it through DEVOD_WEB_HOST and DEVOD_WEB_PORT.
./build/sim/shop/z31shop --port 0 --account owner@example.com:secret \
    --log "$work/update-log.txt" > "$work/shop.out" &
shop_pid=$!
for _ in $(seq 50); do grep -q "listening on" "$work/shop.out" 2>/dev/null && break; sleep 0.1; done
export DEVOD_WEB_HOST=127.0.0.1
DEVOD_WEB_PORT="$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$work/shop.out")"
export DEVOD_WEB_PORT
echo "Web shop stand-in on 127.0.0.1:$DEVOD_WEB_PORT (account owner@example.com / secret)"
# DevodTool writes its work file "tmpDB" into the current folder.
cd "$work"
tool="$OLDPWD/build/bin/DevodTool"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$tool"
    [ -s "$work/update-log.txt" ] && { echo "Update log:"; cat "$work/update-log.txt"; }
else
    echo "No display: running DevodTool on a virtual display for a few seconds."
    shots="$OLDPWD/build/screenshots"
    "$OLDPWD/scripts/screenshots.sh" "$shots"
    [ -s "$work/update-log.txt" ] && { echo "Update log:"; cat "$work/update-log.txt"; }
fi
