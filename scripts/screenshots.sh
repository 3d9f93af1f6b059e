#!/usr/bin/env bash
# Runs DevodTool on a virtual display (Xvfb) against the simulator whose socket Z31_USB_SOCKET
# names, and saves a picture of each page: <folder>/upgrade.png and <folder>/usersetting.png.
set -euo pipefail
out="${1:-build/screenshots}"
mkdir -p "$out"
display=":$(( 90 + RANDOM % 100 ))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
xvfb_pid=$!
tool_pid=""
cleanup() {
    [ -n "$tool_pid" ] && kill "$tool_pid" 2>/dev/null
    kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.1; done

./build/bin/DevodTool &
tool_pid=$!
# The tool connects 500 ms after start and shows an empty "SUCCESS" box: wait for it, close it.
window=""
for _ in $(seq 100); do
    window="$(xdotool search --name '^DevodTool$' 2>/dev/null | head -n 1 || true)"
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "DevodTool did not open its window" >&2; exit 1; }
sleep 1.5
xdotool key --clearmodifiers Return
sleep 0.5
# Pictures are cut from the whole screen: a grab of the window alone can miss its background.
eval "$(xdotool getwindowgeometry --shell "$window")"
shot() { import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"; }
shot "$out/upgrade.png"
# The second tab item, at its place in the window (it follows from the dialog font).
xdotool mousemove --window "$window" 128 56 click 1 || true
xdotool mousemove --window "$window" 600 20  # away from the controls, no hover highlight
sleep 1
shot "$out/usersetting.png"
echo "Screenshots: $out/upgrade.png, $out/usersetting.png"
