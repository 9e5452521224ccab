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
name="arbor-$(hostname -s 2>/dev/null || echo host)-$$-$RANDOM"
log="${TMPDIR:-/tmp}/$name.log"
export JACK_NO_AUDIO_RESERVATION=1
jackd --no-realtime -n "$name" -d dummy -r 48000 -p 256 >"$log" 2>&1 &
server=$!
stop() {
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    rm -f "$log"
}
trap stop EXIT
trap 'exit 130' INT TERM
# The server answers jack_wait a moment before it takes clients: wait until a
# client (jack_lsp) gets in, for at most 10 s.
ready=0
if jack_wait -s "$name" -w -t 10 >/dev/null 2>&1; then
    for _ in $(seq 100); do
        if jack_lsp -s "$name" >/dev/null 2>&1; then
            ready=1
            break
        fi
        sleep 0.1
    done
fi
if [ "$ready" != 1 ]; then
    echo "with-jack: the JACK server \"$name\" did not start:" >&2
    cat "$log" >&2
    exit 1
fi
export JACK_DEFAULT_SERVER="$name"
"$@"
