#!/usr/bin/env bash
# Runs every benchmark built under build/bench; each prints its own table. The audio
# benchmark runs on private sound servers under build/ (apart from the test suite's) and
# prints one table per path: PulseAudio; PipeWire natively; PipeWire through its PulseAudio
# layer. On PipeWire it runs again with a relaxed (100 ms) recorder, which holds the graph at
# a large quantum while our stream sleeps.
#   run-bench.sh [--quantum]
# --quantum measures only the native PipeWire path at 64, 128 and 256 frames.
set -euo pipefail
quantum=${1:-}
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
# The PipeWire socket, where there is one, is DIR/pipewire-0; VAR=VALUE words before the
# command override the environment, as with env.
on_server() {
    local name=$1 script=$2 dir=$3 option=${4:-}
    shift 5
    echo "== $name"
    if ! "$script" start "$dir" $option; then
        echo "($name: the server did not start, no table)"
        return 1
    fi
    running=("$script $dir")
    env PULSE_SERVER=unix:$dir/native PULSE_RUNTIME_PATH=$dir PIPEWIRE_RUNTIME_DIR=$dir \
        PIPEWIRE_REMOTE=pipewire-0 "$@" || status=1
    stop_servers
}

pipewire_name() {
    echo "PipeWire $(pipewire --version | sed -n 's/^Linked with libpipewire //p')"
}

for b in build/bench/*/bench_*; do
    [ -f "$b" ] && [ -x "$b" ] || continue
    if [ "$(basename "$b")" = bench_audio ]; then
        pw=scripts/test-pipewire.sh
        pwdir=$PWD/build/bench-pipewire
        # Native PipeWire needs real time for the player too, which root has.
        native=(BELLBOARD_BENCH_REALTIME_PLAYER=1)
        # No PipeWire socket there: the engine takes the PulseAudio layer.
        layer=(PIPEWIRE_RUNTIME_DIR=$pwdir/none)
        if [ "$quantum" = --quantum ]; then
            for q in 64 128 256; do
                on_server "bench_audio --quantum on $(pipewire_name) natively, node.latency $q/48000" \
                    $pw "$pwdir" --realtime -- "${native[@]}" PIPEWIRE_LATENCY=$q/48000 "$b" --quantum ||
                    status=1
            done
            continue
        fi
        on_server "bench_audio on PulseAudio ($(pulseaudio --version))" \
            scripts/test-pulse.sh "$PWD/build/bench-pulse" "" -- "$b" || status=1
        # A desktop's PipeWire runs its data threads at real-time priority (through rtkit);
        # without it the server itself drops out under load, for every client.
        for path in native layer; do
            declare -n how=$path
            label="$(pipewire_name), server data threads SCHED_FIFO"
            [ $path = native ] && label="$label, natively" || label="$label, through pipewire-pulse"
            on_server "bench_audio on $label" $pw "$pwdir" --realtime -- "${how[@]}" "$b" || status=1
            on_server "bench_audio --quick --recorder-msec 100 on $label" $pw "$pwdir" --realtime -- \
                "${how[@]}" "$b" --quick --recorder-msec 100 || status=1
        done
        continue
    fi
    [ -z "$quantum" ] || continue
    echo "== $(basename "$b")"
    "$b" || status=1
done
exit $status
