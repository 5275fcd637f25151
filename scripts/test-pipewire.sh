#!/usr/bin/env bash
# Starts or stops a private PipeWire server for the tests and the benchmark: pipewire,
# WirePlumber and pipewire-pulse with their own runtime folder, sockets, configuration and
# state under DIR, a timer-driven graph (no sound card) and one null sink "bellboard_test"
# whose monitor "bellboard_test.monitor" the tests record. Its PulseAudio socket is
# DIR/native, as with test-pulse.sh. It never talks to the user's own server, D-Bus or
# systemd; each process is stopped by the id saved when it started.
#
#   test-pipewire.sh start DIR [--realtime | --realtime-if-allowed]
#   test-pipewire.sh stop DIR
# --realtime gives the data threads SCHED_FIFO or fails; --realtime-if-allowed does without
# when it may not, as PulseAudio does for itself.
set -euo pipefail
cmd=${1:?start|stop}
dir=${2:?runtime folder}
realtime=${3:-}
case $realtime in
'' | --realtime | --realtime-if-allowed) ;;
*)
    echo "test-pipewire.sh: unknown option $realtime" >&2
    exit 2
    ;;
esac

case $dir in
*[[:space:]]*)
    echo "test-pipewire.sh: a space in '$dir' breaks PULSE_SERVER" >&2
    exit 2
    ;;
esac
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

# Oldest last: the clients go before the daemon they talk to.
daemons=(pipewire-pulse wireplumber pipewire)

export XDG_RUNTIME_DIR=$dir PIPEWIRE_RUNTIME_DIR=$dir HOME=$dir \
    XDG_CONFIG_HOME=$dir/config XDG_STATE_HOME=$dir/state \
    PIPEWIRE_CONFIG_DIR=$dir/config/pipewire WIREPLUMBER_CONFIG_DIR=$dir/config/wireplumber \
    PULSE_SERVER=unix:$dir/native
unset DBUS_SESSION_BUS_ADDRESS PIPEWIRE_REMOTE PIPEWIRE_LATENCY PIPEWIRE_QUANTUM DISPLAY

# True when the saved id still names our process: one started with our runtime folder.
ours() {
    grep -qzxF -- "XDG_RUNTIME_DIR=$dir" "/proc/$1/environ" 2>/dev/null
}

stop() {
    local name pid
    for name in "${daemons[@]}"; do
        [ -f "$dir/$name.pid" ] || continue
        pid=$(cat "$dir/$name.pid")
        if ours "$pid"; then
            kill "$pid" 2>/dev/null || true
            for _ in $(seq 1 50); do ours "$pid" || break; sleep 0.1; done
            if ours "$pid"; then kill -9 "$pid" 2>/dev/null || true; fi
            for _ in $(seq 1 20); do ours "$pid" || break; sleep 0.1; done
        fi
        if ours "$pid"; then
            echo "test-pipewire.sh: $name ($pid) survived kill -9" >&2
            return 1
        fi
        rm -f "$dir/$name.pid"
    done
    rm -f "$dir/native" "$dir/pipewire-0" "$dir/pipewire-0.lock"
}

configure() {
    local pw=$dir/config/pipewire wp=$dir/config/wireplumber
    rm -rf "$dir/config" "$dir/state"
    mkdir -p "$pw" "$wp" "$dir/state"

    # The daemon: no D-Bus, no real-time module (a desktop gets that from rtkit; --realtime
    # does it here), a timer driver instead of a sound card, and the null sink.
    cat >"$pw/pipewire.conf" <<'EOF'
context.properties = {
    core.daemon = true
    core.name = pipewire-0
    support.dbus = false
    link.max-buffers = 16
    default.clock.rate = 48000
    default.clock.min-quantum = 16
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-profiler }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-device-factory }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
        args = {
            factory.name = support.node.driver
            node.name = Dummy-Driver
            node.group = pipewire.dummy
            priority.driver = 20000
        }
    }
    { factory = adapter
        args = {
            factory.name = support.null-audio-sink
            node.name = bellboard_test
            node.description = "Bellboard test sink"
            media.class = Audio/Sink
            audio.rate = 48000
            audio.position = [ FL FR ]
            monitor.channel-volumes = true
            priority.session = 2000
            adapter.auto-port-config = { mode = dsp monitor = true position = preserve }
        }
    }
]
EOF

    # The PulseAudio layer, listening on DIR/native only.
    cat >"$pw/pipewire-pulse.conf" <<EOF
context.properties = {
    support.dbus = false
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse
        args = { server.address = [ "unix:$dir/native" ] }
    }
]
EOF

    # For pw-cli, pw-dump and pw-top pointed at this server.
    sed 's/^context.properties = {/&\n    support.dbus = false/' /usr/share/pipewire/client.conf \
        >"$pw/client.conf"

    # WirePlumber, seeing only our sink and keeping nothing: no device monitors, Bluetooth,
    # D-Bus, portal or remembered state. 0.4 is configured in Lua, 0.5 in SPA-JSON drop-ins;
    # what the installed one reads decides.
    if [ -d /usr/share/wireplumber/main.lua.d ]; then
        configure_wireplumber_lua "$wp"
    else
        configure_wireplumber_json "$wp"
    fi
}

configure_wireplumber_lua() {
    local wp=$1
    cat >"$wp/wireplumber.conf" <<'EOF'
context.properties = {
    log.level = 2
    support.dbus = false
    wireplumber.script-engine = lua-scripting
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-session-manager }
]
wireplumber.components = [
    { name = libwireplumber-module-lua-scripting, type = module }
    { name = main.lua, type = config/lua }
    { name = policy.lua, type = config/lua }
]
EOF
    cp -r /usr/share/wireplumber/main.lua.d /usr/share/wireplumber/policy.lua.d "$wp/"
    # Runs after Debian's 50-* settings and before its 90-enable-all.lua reads them.
    cat >"$wp/main.lua.d/60-bellboard-test.lua" <<'EOF'
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
default_access.properties["enable-flatpak-portal"] = false
device_defaults.properties["use-persistent-storage"] = false
stream_defaults.properties["restore-props"] = false
stream_defaults.properties["restore-target"] = false
EOF
    cat >"$wp/policy.lua.d/60-bellboard-test.lua" <<'EOF'
bluetooth_policy.policy["use-persistent-storage"] = false
EOF
    wireplumber_args=(-c "$wp/wireplumber.conf")
}

# The configuration folder holds the whole configuration, so Debian's main file comes along;
# the drop-in adds a profile of the policy alone, without hardware, session services or
# state.
configure_wireplumber_json() {
    local wp=$1
    cp /usr/share/wireplumber/wireplumber.conf "$wp/"
    mkdir -p "$wp/wireplumber.conf.d"
    cat >"$wp/wireplumber.conf.d/60-bellboard-test.conf" <<'EOF'
context.properties = {
    log.level = 2
    support.dbus = false
}
wireplumber.profiles = {
    bellboard-test = {
        inherits = [ policy, mixin.systemwide-session, mixin.stateless ]
        support.dbus = disabled
    }
}
EOF
    wireplumber_args=(-p bellboard-test)
}

# Starts one daemon in its own session, output to its log, and saves its id.
launch() {
    local name=$1
    shift
    setsid "$@" </dev/null >"$dir/$name.log" 2>&1 &
    echo $! >"$dir/$name.pid"
}

fail() {
    echo "test-pipewire.sh: $*; logs:" >&2
    for name in "${daemons[@]}"; do
        echo "--- $name" >&2
        tail -n 20 "$dir/$name.log" >&2 2>/dev/null || true
    done
    stop || true
    exit 1
}

# SCHED_FIFO for the threads that move audio, at rtkit's usual priority, as a desktop gives
# them. In 0.3.65 the data thread is unnamed: it is the one thread besides the main one.
make_realtime() {
    local name pid tid
    for name in pipewire pipewire-pulse; do
        pid=$(cat "$dir/$name.pid")
        # The main threads at module-rt's nice level: they move the PulseAudio layer's data.
        renice -n -11 -p "$pid" >/dev/null 2>&1 || sudo -n renice -n -11 -p "$pid" >/dev/null 2>&1 || true
        for tid in $(ls /proc/"$pid"/task); do
            [ "$tid" = "$pid" ] && continue
            chrt -f -p 20 "$tid" >/dev/null 2>&1 || sudo -n chrt -f -p 20 "$tid" >/dev/null 2>&1 ||
                [ "$realtime" = --realtime-if-allowed ] ||
                fail "cannot give $name's data thread real-time priority (needs root)"
        done
    done
}

case $cmd in
start)
    stop 2>/dev/null || true
    configure
    launch pipewire pipewire -c "$dir/config/pipewire/pipewire.conf"
    for _ in $(seq 1 100); do [ -S "$dir/pipewire-0" ] && break; sleep 0.05; done
    [ -S "$dir/pipewire-0" ] || fail "pipewire did not open $dir/pipewire-0"
    launch wireplumber wireplumber "${wireplumber_args[@]}"
    launch pipewire-pulse pipewire-pulse -c "$dir/config/pipewire/pipewire-pulse.conf"

    # Up means: the PulseAudio layer answers, our sink is its default, its monitor exists.
    ready=
    for _ in $(seq 1 100); do
        if pactl info 2>/dev/null | grep -qx 'Default Sink: bellboard_test' &&
            pactl list short sources 2>/dev/null | grep -q $'\tbellboard_test.monitor\t'; then
            ready=1
            break
        fi
        sleep 0.1
    done
    [ -n "$ready" ] || fail "bellboard_test is not the default sink with a monitor after 10 s"
    for name in "${daemons[@]}"; do
        ours "$(cat "$dir/$name.pid")" || fail "$name exited"
    done
    [ -z "$realtime" ] || make_realtime
    ;;
stop)
    stop
    ;;
*)
    echo "usage: $0 start DIR [--realtime | --realtime-if-allowed] | stop DIR" >&2
    exit 2
    ;;
esac
