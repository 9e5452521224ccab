#!/usr/bin/env bash
# Starts the program from ./build. On a machine without a sound card (no ALSA
# card and no sound server) the sound goes through scripts/audio-sink.sh, so
# the program still starts and plays in real time; ARBOR_SINK_OUT names the
# file that keeps it (default: thrown away). Without a display, the program
# runs on a virtual one (xvfb-run). Arguments are passed on to the program.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
program="$here/build/arbor"
if [ ! -x "$program" ]; then
    echo "run.sh: $program is missing; run ./setup.sh first" >&2
    exit 1
fi

has_sound_card() {
    [ -n "${PULSE_SERVER:-}" ] && return 0
    [ -S "${XDG_RUNTIME_DIR:-/nonexistent}/pulse/native" ] && return 0
    [ -S "${XDG_RUNTIME_DIR:-/nonexistent}/pipewire-0" ] && return 0
    [ -r /proc/asound/cards ] && grep -q '^ *[0-9]' /proc/asound/cards
}

cmd=("$program" "$@")
if ! has_sound_card; then
    echo "run.sh: no sound card found; sound goes to ${ARBOR_SINK_OUT:-/dev/null}" >&2
    cmd=("$here/scripts/audio-sink.sh" --out "${ARBOR_SINK_OUT:-/dev/null}" -- "${cmd[@]}")
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run.sh: no display; running on a virtual one" >&2
    cmd=(xvfb-run -a -s "-screen 0 1280x1024x24" "${cmd[@]}")
fi
exec "${cmd[@]}"
