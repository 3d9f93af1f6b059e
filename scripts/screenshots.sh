#!/usr/bin/env bash
# Runs DevodTool on a virtual display (Xvfb) against the simulator whose socket Z31_USB_SOCKET
# names, and saves a picture of each page (<folder>/upgrade.png, <folder>/usersetting.png); then
# runs a database update from the shop that DEVOD_WEB_HOST and DEVOD_WEB_PORT name, with pictures
# of its dialogs and of its end.
set -euo pipefail
# DevodTool runs in the current folder (its work file "tmpDB" lands there).
tool="$(cd "$(dirname "$0")/.." && pwd)/build/bin/DevodTool"
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

"$tool" &
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
grab() {  # window id, file
    eval "$(xdotool getwindowgeometry --shell "$1")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$2"
}
grab "$window" "$out/upgrade.png"
# The second tab item, at its place in the window (it follows from the dialog font).
xdotool mousemove --window "$window" 128 56 click 1 || true
xdotool mousemove --window "$window" 600 20  # away from the controls, no hover highlight
sleep 1
grab "$window" "$out/usersetting.png"
echo "Screenshots: $out/upgrade.png, $out/usersetting.png"

# Then a whole database update, driven by the keyboard: login, the database choice, the upload
# question, and the device write up to its completion message.
wait_window() {  # name → window id, empty after 10 s
    local id=""
    for _ in $(seq 100); do
        id="$(xdotool search --name "$1" 2>/dev/null | head -n 1 || true)"
        [ -n "$id" ] && break
        sleep 0.1
    done
    echo "$id"
}
xdotool mousemove --window "$window" 54 56 click 1  # back to the Upgrade tab
sleep 0.3
xdotool mousemove --window "$window" 306 277 click 1  # "Click here to update GPS database"
login="$(wait_window '^Kelvaro Login$')"
if [ -z "$login" ]; then
    echo "The login dialog did not open; no update shown." >&2
    exit 0
fi
xdotool windowactivate --sync "$login" 2>/dev/null || true
xdotool type --delay 20 "owner@example.com"
xdotool key Tab
xdotool type --delay 20 "secret"
grab "$login" "$out/login.png"
xdotool key Return
select="$(wait_window '^Select Database$')"
if [ -z "$select" ]; then
    echo "The database choice did not open; no update shown." >&2
    exit 0
fi
xdotool windowactivate --sync "$select" 2>/dev/null || true
# The catalogue offers "Z31 UK 2026-11" as its eighth entry.
for _ in $(seq 8); do xdotool key Down; done
sleep 0.3
grab "$select" "$out/select-database.png"
xdotool key Return
sleep 1
xdotool key Return  # "Upload now?" Yes
for _ in $(seq 100); do
    box="$(xdotool search --name '^COMPLETE$' 2>/dev/null | head -n 1 || true)"
    [ -n "$box" ] && break
    sleep 0.1
done
grab "$window" "$out/update-complete.png"
echo "Database update shown: $out/login.png, $out/select-database.png, $out/update-complete.png"
