#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: DevodTool connected to the bundled Z31
# simulator over our PipeBridge. With a display DevodTool opens its window there; without one it
# runs on a virtual display (Xvfb) and leaves screenshots of both pages in build/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF > /dev/null
cmake --build build -j"$(nproc)"

work="$(mktemp -d /tmp/devodtool-run-XXXXXX)"
export Z31_USB_SOCKET="$work/z31-usb.sock"
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A device with a settings record (km/h, 12-hour clock, UTC-9, warning 20 s), five user speeds and
# a few user points to export.
./build/sim/usb/z31usbsim --socket "$Z31_USB_SOCKET" --settings 000100018903 \
    --speeds 50,60,70,80,90 --points 5 &
sim_pid=$!
for _ in $(seq 50); do [ -S "$Z31_USB_SOCKET" ] && break; sleep 0.1; done

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    ./build/bin/DevodTool
else
    echo "No display: running DevodTool on a virtual display for a few seconds."
    ./scripts/screenshots.sh build/screenshots
fi
