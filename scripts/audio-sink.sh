#!/usr/bin/env bash
# Runs a command with its ALSA sound (PortAudio's included) going to a file
# instead of a sound card, in real time.
#
# Usage: scripts/audio-sink.sh [--out FILE | FILE] -- command [args...]
#
# The command runs with HOME set to a temporary folder whose ~/.asoundrc makes
# the ALSA "default" device a file PCM writing into a named pipe; pipe_drain
# empties the pipe at the rate of real time and appends the bytes to FILE
# (default: ./audio-sink.raw; emptied first). A full pipe blocks the writer,
# so the drain is the playback clock, and FILE can be read while it grows.
#
# FILE holds exactly what the player wrote, as raw bytes without a header.
# For this program that is 32-bit float little-endian samples (-1..1),
# interleaved stereo (left, right), 44100 frames a second: 8 bytes a frame.
# ARBOR_SINK_RATE (frames a second, default 44100) and ARBOR_SINK_FRAME_BYTES
# (default 8) set the drain rate for players that open another format.
#
# The program keeps its data in the caller's folders: XDG_DATA_HOME,
# XDG_CONFIG_HOME, XDG_CACHE_HOME and XDG_STATE_HOME are kept when set and
# otherwise point into the caller's HOME.
#
# pipe_drain (tools/pipe_drain.cpp, built always) is taken from
# ARBOR_PIPE_DRAIN, else from the command's own folder, else from the build
# folder next to this script (build/pipe_drain).
# TERM, INT and HUP are passed on to the command (as TERM); the exit code is
# the command's. On exit the drain is stopped and the temporary folder removed.
set -euo pipefail

usage() {
    echo "usage: $0 [--out FILE | FILE] -- command [args...]" >&2
    exit 2
}

here="$(cd "$(dirname "$0")/.." && pwd)"
out="audio-sink.raw"
while [ $# -gt 0 ]; do
    case "$1" in
        --out) [ $# -ge 2 ] || usage; out="$2"; shift 2 ;;
        --out=*) out="${1#--out=}"; shift ;;
        --) shift; break ;;
        -*) usage ;;
        *) out="$1"; shift ;;
    esac
done
[ $# -gt 0 ] || usage

rate="${ARBOR_SINK_RATE:-44100}"
frame_bytes="${ARBOR_SINK_FRAME_BYTES:-8}"
case "$rate$frame_bytes" in
    *[!0-9]*) echo "audio-sink: ARBOR_SINK_RATE and ARBOR_SINK_FRAME_BYTES must be whole numbers" >&2; exit 2 ;;
esac

drain="${ARBOR_PIPE_DRAIN:-}"
if [ -z "$drain" ]; then
    cmd_path="$(command -v -- "$1" || true)"
    for candidate in ${cmd_path:+"$(dirname -- "$cmd_path")/pipe_drain"} \
                     "$here/build/pipe_drain" "./build/pipe_drain"; do
        if [ -x "$candidate" ]; then
            drain="$candidate"
            break
        fi
    done
fi
if [ -z "$drain" ] || [ ! -x "$drain" ]; then
    echo "audio-sink: pipe_drain not found (build the pipe_drain target or set ARBOR_PIPE_DRAIN)" >&2
    exit 127
fi

tmp="$(mktemp -d "${TMPDIR:-/tmp}/audio-sink.XXXXXX")"
drain_pid=""
child=""
cleanup() {
    if [ -n "$drain_pid" ]; then
        kill -TERM "$drain_pid" 2>/dev/null || true
        wait "$drain_pid" 2>/dev/null || true
    fi
    rm -rf -- "$tmp"
}
trap cleanup EXIT

fifo="$tmp/audio.fifo"
mkfifo "$fifo"
mkdir "$tmp/home"
# ALSA config strings are double-quoted; escape backslashes and quotes.
fifo_conf="${fifo//\\/\\\\}"
fifo_conf="${fifo_conf//\"/\\\"}"
cat > "$tmp/home/.asoundrc" <<EOF
pcm.!default {
    type file
    slave.pcm "null"
    format "raw"
    file "$fifo_conf"
}
EOF

: > "$out"
"$drain" "$fifo" "$out" "$((rate * frame_bytes))" &
drain_pid=$!

if [ -n "${HOME:-}" ]; then
    export XDG_DATA_HOME="${XDG_DATA_HOME:-$HOME/.local/share}"
    export XDG_CONFIG_HOME="${XDG_CONFIG_HOME:-$HOME/.config}"
    export XDG_CACHE_HOME="${XDG_CACHE_HOME:-$HOME/.cache}"
    export XDG_STATE_HOME="${XDG_STATE_HOME:-$HOME/.local/state}"
fi
export HOME="$tmp/home"

forward() {
    [ -n "$child" ] && kill -TERM "$child" 2>/dev/null || true
}
trap forward TERM INT HUP

# Started in the background so that signals can be passed on; keep stdin.
exec 3<&0
"$@" <&3 3<&- &
child=$!
exec 3<&-
rc=0
while :; do
    rc=0
    wait "$child" || rc=$?
    kill -0 "$child" 2>/dev/null || break
done
exit "$rc"
