#!/usr/bin/env bash
# Runs every benchmark built under build/bench; each prints its own table. The audio
# benchmark runs once per sound server, each a private one under build/ (apart from the test
# suite's), and prints one table per server.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
running=()

stop_servers() {
    for s in "${running[@]}"; do
        "${s%% *}" stop "${s#* }" || true
    done
    running=()
}
trap stop_servers EXIT

# on_server NAME SCRIPT DIR [START OPTION] -- COMMAND...
on_server() {
    local name=$1 script=$2 dir=$3 option=${4:-}
    shift 5
    echo "== $name"
    if ! "$script" start "$dir" $option; then
        echo "($name: the server did not start, no table)"
        return 1
    fi
    running=("$script $dir")
    PULSE_SERVER=unix:$dir/native PULSE_RUNTIME_PATH=$dir "$@" || status=1
    stop_servers
}

for b in build/bench/*/bench_*; do
    [ -f "$b" ] && [ -x "$b" ] || continue
    if [ "$(basename "$b")" = bench_audio ]; then
        on_server "bench_audio on PulseAudio ($(pulseaudio --version))" \
            scripts/test-pulse.sh "$PWD/build/bench-pulse" "" -- "$b" || status=1
        # A desktop's PipeWire runs its data threads at real-time priority (through rtkit);
        # without it the server itself drops out under load, for every client.
        on_server "bench_audio on PipeWire $(pipewire --version | sed -n 's/^Linked with libpipewire //p') through pipewire-pulse, server data threads SCHED_FIFO" \
            scripts/test-pipewire.sh "$PWD/build/bench-pipewire" --realtime -- "$b" || status=1
        continue
    fi
    echo "== $(basename "$b")"
    "$b" || status=1
done
exit $status
