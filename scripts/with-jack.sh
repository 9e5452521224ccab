#!/usr/bin/env bash
# Runs a command beside a JACK server of its own, on the dummy driver, so that
# MIDI ports exist on a machine without sound hardware (a CI runner, a
# container). The server's name is unique to this run, so parallel runs never
# meet; the command finds it through JACK_DEFAULT_SERVER. The server stops
# when the command ends, and the command's exit code is returned.
#
#   scripts/with-jack.sh build/midi_test
#   scripts/with-jack.sh scripts/audio-sink.sh out.raw build/arbor
set -u
export JACK_NO_AUDIO_RESERVATION=1
export JACK_NO_START_SERVER=1 # clients never start a server of their own
server=""
log=""
stop() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    [ -n "$log" ] && rm -f "$log"
    server=""
}
trap stop EXIT
trap 'exit 130' INT TERM

# Starts a server and waits until a client (jack_lsp) gets in, for at most
# 10 s. A server that is still starting (or a neighbour's starting at the
# same moment) may turn a client away: the client tries again.
start() {
    name="arbor-$(hostname -s 2>/dev/null || echo host)-$$-$RANDOM"
    log="${TMPDIR:-/tmp}/$name.log"
    jackd --no-realtime -n "$name" -d dummy -r 48000 -p 256 >"$log" 2>&1 &
    server=$!
    for _ in $(seq 100); do
        kill -0 "$server" 2>/dev/null || return 1
        jack_lsp -s "$name" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# Servers starting side by side can trip over each other: up to three tries.
for attempt in 1 2 3; do
    start && break
    echo "with-jack: the JACK server \"$name\" did not start (try $attempt of 3):" >&2
    cat "$log" >&2
    stop
    [ "$attempt" = 3 ] && exit 1
done
export JACK_DEFAULT_SERVER="$name"
"$@"
