#!/usr/bin/env bash
# Checks the Debian package from outside, one step per test:
#   build     cpack -G DEB into WORK, and the package unpacked into WORK/root
#   layout    its file list, its fields and its computed dependencies
#   metadata  the desktop entry and AppStream validators accept its files
#   run       the unpacked program, started the way its menu entry starts it
#             (the Exec command looked up on PATH), shows its window and plays
#             a wand-mapped note into the audio file sink (needs a display)
#
# Usage: package_test.sh STEP BUILD_DIR WORK_DIR VERSION
# CPACK names the cpack program (default: cpack on PATH).
set -euo pipefail

[ $# -eq 4 ] || { echo "usage: $0 build|layout|metadata|run BUILD_DIR WORK_DIR VERSION" >&2; exit 2; }
step="$1" build="$2" work="$3" version="$4"
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
id=example.elmsby.arbor
deb="$work/arbor_${version}_$(dpkg --print-architecture).deb"
root="$work/root"
desktop="$root/usr/share/applications/$id.desktop"
metainfo="$root/usr/share/metainfo/$id.metainfo.xml"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# wait_for SECONDS WHAT COMMAND...: polls COMMAND until it succeeds.
wait_for() {
    local deadline=$((SECONDS + $1)) what="$2"
    shift 2
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "timed out waiting for $what"
        sleep 0.1
    done
}

step_build() {
    rm -rf "$work"
    mkdir -p "$work"
    timeout 240 "${CPACK:-cpack}" -G DEB --config "$build/CPackConfig.cmake" -B "$work" \
        > "$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack -G DEB"; }
    [ -f "$deb" ] || { ls "$work"; fail "no package $deb"; }
    dpkg-deb -x "$deb" "$root"
    echo "built $deb"
}

step_layout() {
    local contents listing f missing=0
    contents="$(dpkg-deb -c "$deb")"
    # Paths (with link targets) of the package's entries, without the leading ".".
    listing="$(sed -E 's/^([^ ]+ +){5}\.//' <<< "$contents")"
    local expected=(
        "/usr/bin/arbor -> ../lib/arbor/arbor"
        /usr/lib/arbor/arbor
        /usr/lib/arbor/style.qss
        /usr/lib/arbor/style_mac.qss
        "/usr/share/applications/$id.desktop"
        "/usr/share/icons/hicolor/scalable/apps/$id.svg"
        "/usr/share/icons/hicolor/256x256/apps/$id.png"
        "/usr/share/metainfo/$id.metainfo.xml"
    )
    # Every shipped patch and glyph lies in the program's private folder.
    while IFS= read -r f; do
        expected+=("/usr/lib/arbor/${f#"$source_dir/"}")
    done < <(find "$source_dir/patches" -type f)
    for f in "$source_dir"/resources/glyphs/*.svg; do
        expected+=("/usr/lib/arbor/$(basename "$f")")
    done
    for f in "${expected[@]}"; do
        grep -qxF -- "$f" <<< "$listing" || { echo "missing: $f" >&2; missing=1; }
    done
    [ "$missing" -eq 0 ] || { echo "$listing" >&2; fail "package layout"; }
    # bin holds the link alone; the program is executable.
    [ "$(grep -c '^/usr/bin/.' <<< "$listing")" -eq 1 ] || fail "more than the link in /usr/bin"
    grep -qE '^-rwxr-xr-x .* \./usr/lib/arbor/arbor$' <<< "$contents" || fail "program not executable"

    [ "$(dpkg-deb -f "$deb" Package)" = arbor ] || fail "package name"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
    local depends
    depends="$(dpkg-deb -f "$deb" Depends)"
    echo "Depends: $depends"
    for f in libqt5widgets5 libqt5svg5 libqt5network5 libportaudio2 libc6; do
        grep -qE "(^|, )$f( |,|$)" <<< "$depends" || fail "dependency $f not computed"
    done
    grep -qF "<release version=\"$version\"" "$metainfo" || fail "metainfo release is not $version"
    # 256 x 256 in the PNG header (width and height, big-endian, at byte 16).
    [ "$(od -An -tu1 -j16 -N8 "$root/usr/share/icons/hicolor/256x256/apps/$id.png" | tr -s ' ')" = \
        " 0 0 1 0 0 0 1 0" ] || fail "PNG icon is not 256 x 256"
}

step_metadata() {
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
    # The installed tree: the metadata finds its desktop entry.
    appstreamcli validate-tree --no-net "$root" || fail "appstreamcli validate-tree"
    local key
    for key in "Icon=$id" "Exec=arbor" "Type=Application"; do
        grep -qxF "$key" "$desktop" || fail "desktop entry lacks $key"
    done
    for key in Audio Music Education; do
        grep -qE "^Categories=(.*;)?$key;" "$desktop" || fail "desktop entry lacks category $key"
    done
    grep -qF "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "metainfo does not launch $id.desktop"
}

step_run() {
    [ -n "${DISPLAY:-}" ] || fail "needs an X display (run under xvfb-run)"
    local drain="$build/pipe_drain"
    [ -x "$drain" ] || fail "$drain missing (build the pipe_drain target)"
    tmp="$(mktemp -d "${TMPDIR:-/tmp}/arbor-package.XXXXXX")"
    trap stop_program EXIT

    # The menu starts the Exec command; its program is found on PATH.
    local argv
    read -ra argv <<< "$(sed -n 's/^Exec=//p' "$desktop" | sed 's/ *%[a-zA-Z]//g')"
    wm_class="$(sed -n 's/^StartupWMClass=//p' "$desktop")"
    export PATH="$root/usr/bin:$PATH"
    [ "$(command -v "${argv[0]}")" = "$root/usr/bin/arbor" ] || fail "Exec does not start the package's arbor"

    local port=$((20000 + RANDOM % 40000))
    while grep -q ":$(printf '%04X' "$port") " /proc/net/udp /proc/net/udp6 2>/dev/null; do
        port=$((20000 + RANDOM % 40000))
    done
    local config="$tmp/data/Elmsby Vudiru Arbor"
    mkdir -p "$config" "$tmp/home"
    printf '{ "udpPort": %d }\n' "$port" > "$config/options.json"
    printf '{ "04a3b2c1d9": { "event": 0, "value": "/5" } }\n' > "$config/rfid_map.json"

    raw="$tmp/sound.raw"
    HOME="$tmp/home" XDG_DATA_HOME="$tmp/data" QT_QPA_PLATFORM=xcb ARBOR_NO_MODAL_BOXES=1 \
        ARBOR_PIPE_DRAIN="$drain" setsid "$source_dir/scripts/audio-sink.sh" --out "$raw" -- "${argv[@]}" \
        > "$tmp/arbor.log" 2>&1 &
    pid=$!

    wait_for 40 "the main window" window_shown
    echo "window $(cat "$tmp/window") shown"
    # Its class is the one the menu entry names, which lets a dock show the
    # entry's icon for it.
    xdotool search --onlyvisible --class "^$wm_class\$" | grep -qxF -f "$tmp/window" ||
        fail "the window's class is not \"$wm_class\""
    wait_for 20 "the sound to start" played_since 0 22050
    local level frequency
    listen 0.8
    echo "before the wand touch: rms $level"
    awk -v l="$level" 'BEGIN { exit !(l < 0.002) }' || fail "sound before the wand touch"

    send_tag 04A3B2C1D9
    listen 0.8
    echo "wand /5: rms $level, frequency $frequency Hz"
    awk -v l="$level" -v f="$frequency" 'BEGIN { exit !(l > 0.01 && f > 544.5 && f < 555.5) }' ||
        fail "wand /5 did not sound 550 Hz"
}

# Whether process $1 runs (a zombie, dead but not yet reaped, does not).
alive() {
    [ -r "/proc/$1/stat" ] && ! grep -qE '^[0-9]+ \(.*\) Z' "/proc/$1/stat" 2>/dev/null
}

window_shown() {
    alive "$pid" || { cat "$tmp/arbor.log" >&2; fail "the program ended"; }
    xdotool search --onlyvisible --name '^Elmsby Vudiru Arbor$' > "$tmp/window" 2>/dev/null
}

frames() {
    echo $(($(stat -c %s "$raw" 2>/dev/null || echo 0) / 8))
}

# played_since START FRAMES: FRAMES more than START are in the sink file.
played_since() {
    [ "$(frames)" -ge $(($1 + $2)) ]
}

# listen SECONDS: waits for that much more sound, then sets level (RMS) and
# frequency (from zero crossings) of the last quarter second of the left
# channel, as sox measures them.
listen() {
    local start stat
    start="$(frames)"
    wait_for 20 "$1 s of sound" played_since "$start" "$(awk -v s="$1" 'BEGIN { print int(s * 44100) }')"
    stat="$(head -c $(($(frames) * 8)) "$raw" | tail -c $((11025 * 8)) |
        sox -t raw -r 44100 -e floating-point -b 32 -c 2 -L - -n remix 1 stat 2>&1)"
    level="$(awk '/^RMS +amplitude:/ { print $3 }' <<< "$stat")"
    frequency="$(awk '/^Rough +frequency:/ { print $3 }' <<< "$stat")"
    [[ "$level" =~ ^[0-9.]+$ && "$frequency" =~ ^-?[0-9]+$ ]] || { echo "$stat" >&2; fail "sox stat"; }
}

# The wand reader's 72-byte datagram: byte 23 holds 5, the tag's characters lie
# at bytes 27, 31, ... (ten at most).
send_tag() {
    local tag="$1" packet="" i c
    for ((i = 0; i < 72; ++i)); do
        c=0
        [ "$i" -eq 23 ] && c=5
        if [ "$i" -ge 27 ] && [ $(((i - 27) % 4)) -eq 0 ] && [ $(((i - 27) / 4)) -lt "${#tag}" ]; then
            c="$(printf '%d' "'${tag:$(((i - 27) / 4)):1}")"
        fi
        packet+="$(printf '\\x%02x' "$c")"
    done
    printf %b "$packet" > "/dev/udp/127.0.0.1/$port"
}

stop_program() {
    if [ -n "${pid:-}" ]; then
        # The sink script leads its own process group: the program and the drain.
        kill -TERM -- "-$pid" 2>/dev/null || true
        local deadline=$((SECONDS + 10))
        while alive "$pid" && [ "$SECONDS" -lt "$deadline" ]; do
            sleep 0.1
        done
        kill -KILL -- "-$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}

case "$step" in
    build | layout | metadata | run) "step_$step" ;;
    *) fail "unknown step $step" ;;
esac
echo "package $step: passed"
