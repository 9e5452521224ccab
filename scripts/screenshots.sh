#!/usr/bin/env bash
# Pictures of the real program for the README, taken on a virtual 1280 x 720
# display through the window system: both leaf arrangements with a six-note
# chord played by the wand (UDP on loopback), the options dialog and the
# "Open Patch" file dialog.
# Usage: scripts/screenshots.sh [BUILD_DIR] [OUT_DIR]   (defaults: build, shots)
# Needs xvfb-run and xdotool, and the targets arbor, pipe_drain and window_shot.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$here/build}" && pwd)"
mkdir -p "${2:-$here/shots}"
out="$(cd "${2:-$here/shots}" && pwd)"
if [ "${ARBOR_SHOTS_DISPLAY:-}" != 1 ]; then
    exec env ARBOR_SHOTS_DISPLAY=1 QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x720x24" "$0" "$build" "$out"
fi

tmp="$(mktemp -d)"
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$tmp"' EXIT
config="$tmp/data/Elmsby Vudiru Arbor"
mkdir -p "$config"
port=$((20000 + RANDOM % 20000))
chord=(/ /3 /5 /7 /-3 /3/5)

# Waits up to ten seconds for a command to succeed.
await() {
    for _ in $(seq 100); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "timed out waiting for: $*" >&2
    return 1
}

# The wand touching a tag: one 72-byte datagram, the wand ID in byte 23 and
# the tag's ten characters in every fourth byte from byte 27 on.
wand() {
    local format="" i
    for ((i = 0; i < 72; ++i)); do
        if ((i == 23)); then
            format+='\005'
        elif ((i >= 27 && i < 67 && (i - 27) % 4 == 0)); then
            format+="${1:$(((i - 27) / 4)):1}"
        else
            format+='\000'
        fi
    done
    printf "$format" >"/dev/udp/127.0.0.1/$port"
}

# The largest of the program's visible windows other than the main window.
other() {
    local id
    for id in $(xdotool search --onlyvisible --class arbor 2>/dev/null | grep -vx "$main"); do
        xdotool getwindowgeometry --shell "$id" | awk -F= -v id="$id" '/WIDTH/ {w = $2} /HEIGHT/ {print w * $2, id}'
    done | sort -n | tail -1 | cut -d' ' -f2 | grep .
}

# Starts the program in one arrangement and plays the chord.
start() {
    local map="{" k
    for k in "${!chord[@]}"; do
        map+="\"000000000$k\": {\"event\": 0, \"value\": \"${chord[$k]}\"},"
    done
    echo "${map%,}}" >"$config/rfid_map.json"
    cat >"$config/options.json" <<EOF
{"udpPort": $port, "updateCheckInterval": 4, "defaultPatch": "Sine.pd", "circlesView": $1,
 "windowSize": "1280,720", "windowPos": "0,0"}
EOF
    rm -f "$config/log.txt"
    # From a folder of patches, where the file dialog opens.
    mkdir -p "$tmp/patches"
    cp "$build"/patches/*.pd "$tmp/patches/"
    (cd "$tmp/patches" && exec env HOME="$tmp" XDG_DATA_HOME="$tmp/data" ARBOR_NO_MODAL_BOXES=1 \
        "$here/scripts/audio-sink.sh" "$tmp/audio.raw" -- "$build/arbor" >/dev/null 2>&1) &
    pid=$!
    main="$(xdotool search --sync --onlyvisible --name '^Elmsby Vudiru Arbor$' | head -1)"
    await grep -q "UDP socket opened" "$config/log.txt"
    for k in "${!chord[@]}"; do
        wand "000000000$k"
    done
    sleep 1 # the cards appear as the engine reports the notes
}

stop() {
    xdotool key --window "$main" ctrl+q
    wait "$pid" || true
    pid=""
}

# Clicks at a point of the main window and photographs the window it opens.
dialog() {
    xdotool mousemove --window "$main" "$1" "$2" click 1
    await other
    sleep 1 # laid out and painted
    "$build/window_shot" "$(other)" "$out/$3"
    xdotool key --window "$(other)" Escape
}

start false
"$build/window_shot" "$main" "$out/chord-grapes.png"
width="$(xdotool getwindowgeometry --shell "$main" | sed -n 's/^WIDTH=//p')"
dialog $((width - 28)) 26 options-dialog.png  # the cog
dialog 250 116 open-patch-dialog.png           # "Load"
stop
start true
"$build/window_shot" "$main" "$out/chord-flowers.png"
stop
echo "pictures in $out"
