#!/usr/bin/env bash
# Starts or stops a private headless Wayland compositor (sway) for the tests, with one
# 1024 x 768 output, no Xwayland and no input devices but a virtual keyboard and pointer that
# stay on its seat, so the program keeps its keyboard focus between two typed keys.
#   test-sway.sh start DIR   prints nothing and exits 0 once it answers; exits 77 with the
#                            reason on stderr where sway cannot run here
#   test-sway.sh stop DIR    ends what start left running, by the ids it saved in DIR
# DIR/wayland then names the compositor's socket (for WAYLAND_DISPLAY), DIR/swaysock its IPC
# socket. sway refuses to run as root, so for root it runs as nobody, in a runtime folder of
# its own under /tmp; clients run as the caller. The input tools are the test pointer
# (POINTER_TOOL, built with the tests) and wtype.
set -euo pipefail
cmd=${1:?start|stop}
dir=${2:?folder}

# A process that has ended but was not reaped (its parent, this script, is gone) is not
# running, though kill -0 still finds it.
running() {
    [ -r "/proc/$1/stat" ] && [ "$(sed 's/.*) //' "/proc/$1/stat" | cut -c1)" != Z ]
}

stop() {
    for name in keyboard pointer sway; do
        [ -f "$dir/$name.pid" ] || continue
        pid=$(cat "$dir/$name.pid")
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 1 50); do running "$pid" || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$dir/$name.pid"
    done
    if [ -f "$dir/runtime" ]; then
        rm -rf "$(cat "$dir/runtime")"
        rm -f "$dir/runtime"
    fi
    rm -f "$dir/wayland" "$dir/swaysock"
}

skip() {
    echo "no Wayland compositor for the tests: $*" >&2
    stop
    exit 77
}

case $cmd in
start)
    stop
    mkdir -p "$dir"
    for tool in sway wtype swaymsg; do
        command -v $tool >/dev/null || skip "$tool is not installed (scripts/setup.sh --test)"
    done
    [ -x "${POINTER_TOOL:-}" ] || skip "the test pointer tool is not built (POINTER_TOOL)"
    as=()
    runtime=$(mktemp -d /tmp/bellboard-sway.XXXXXX)
    echo "$runtime" >"$dir/runtime"
    if [ "$(id -u)" -eq 0 ]; then
        id nobody >/dev/null 2>&1 || skip "running as root, and there is no user nobody to run sway as"
        as=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
        chown nobody "$runtime"
    fi
    chmod 700 "$runtime"
    cat >"$runtime/config" <<CONFIG
output HEADLESS-1 resolution 1024x768 position 0 0 scale 1
xwayland disable
focus_on_window_activation focus
CONFIG
    env -i PATH="$PATH" HOME="$runtime" XDG_RUNTIME_DIR="$runtime" \
        WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
        "${as[@]}" sway -c "$runtime/config" >"$dir/sway.log" 2>&1 &
    echo $! >"$dir/sway.pid"
    for _ in $(seq 1 100); do
        sock=$(ls "$runtime"/sway-ipc.*.sock 2>/dev/null | head -1 || true)
        if [ -n "$sock" ] && [ -S "$runtime/wayland-1" ] &&
            swaymsg -s "$sock" -t get_version >/dev/null 2>&1; then
            break
        fi
        running "$(cat "$dir/sway.pid")" || skip "sway stopped at once: $(tail -3 "$dir/sway.log")"
        sleep 0.1
    done
    [ -n "${sock:-}" ] || skip "sway did not answer within 10 s: $(tail -3 "$dir/sway.log")"
    echo "$runtime/wayland-1" >"$dir/wayland"
    echo "$sock" >"$dir/swaysock"
    export WAYLAND_DISPLAY=$runtime/wayland-1
    "$POINTER_TOOL" hold &
    echo $! >"$dir/pointer.pid"
    wtype -s 100000000 &
    echo $! >"$dir/keyboard.pid"
    # Both devices are on the seat once it says so.
    for _ in $(seq 1 100); do
        seat=$(swaymsg -s "$sock" -t get_seats 2>/dev/null || true)
        if grep -q '"type": "pointer"' <<<"$seat" && grep -q '"type": "keyboard"' <<<"$seat"; then
            exit 0
        fi
        sleep 0.1
    done
    skip "the virtual keyboard and pointer did not reach sway's seat"
    ;;
stop) stop ;;
*)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
