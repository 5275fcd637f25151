#!/usr/bin/env bash
# Starts or stops the test suite's private PulseAudio server: its own runtime folder and
# socket, one null sink "bellboard_test" whose monitor the tests record, and, as on every
# desktop, idle sinks suspended after 5 s. It never talks to the user's own server.
set -euo pipefail
cmd=${1:?start|stop}
dir=${2:?runtime folder}

export PULSE_RUNTIME_PATH=$dir HOME=$dir XDG_RUNTIME_DIR=$dir XDG_CONFIG_HOME=$dir/config
unset PULSE_SERVER DBUS_SESSION_BUS_ADDRESS

case $cmd in
start)
    "$0" stop "$dir" 2>/dev/null || true
    mkdir -p "$dir/config"
    pulseaudio -n --daemonize=yes --exit-idle-time=-1 --system=no --disallow-exit=no \
        --use-pid-file=yes --log-target="file:$dir/server.log" \
        -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
        -L "module-null-sink sink_name=bellboard_test rate=48000 channels=2" \
        -L "module-always-sink" \
        -L "module-suspend-on-idle"
    # Up means: it answers, our sink is its default, its monitor exists.
    export PULSE_SERVER=unix:$dir/native
    for _ in $(seq 1 100); do
        if pactl info >/dev/null 2>&1; then
            pactl set-default-sink bellboard_test 2>/dev/null || true
            if pactl info | grep -qx 'Default Sink: bellboard_test' &&
                pactl list short sources | grep -q $'\tbellboard_test.monitor\t'; then
                exit 0
            fi
        fi
        sleep 0.1
    done
    echo "test PulseAudio server did not come up with bellboard_test as its default sink; its log:" >&2
    cat "$dir/server.log" >&2 || true
    "$0" stop "$dir" || true
    exit 1
    ;;
stop)
    if [ -f "$dir/pid" ]; then
        pid=$(cat "$dir/pid")
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$dir/pid"
    fi
    rm -f "$dir/native"
    ;;
*)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
