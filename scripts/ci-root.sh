#!/usr/bin/env bash
# Runs the whole `make test` of a clean clone of this repository's HEAD inside a Debian root
# made with debootstrap: by default Debian 13 (trixie), so one machine tests both releases.
#
#   scripts/ci-root.sh [SUITE [GOAL]]
#
# GOAL is the make goal to run there instead of test (bench, for the benchmarks' tables).
#
# The root is made once from the Debian archive named in this machine's own apt sources and
# kept in BELLBOARD_CI_CACHE (default /var/cache/bellboard-ci), outside the clone; packages
# that make test installs there stay for the next run. Each run mounts /proc, /sys and /dev
# itself, and unmounts them and ends every process left in the root when it stops, whether
# the tests passed or not. Needs root.
set -uo pipefail
suite=${1:-trixie}
goal=${2:-test}
case $goal in
test | bench | package | build) ;;
*)
    echo "ci-root.sh: unknown goal '$goal' (test, bench, package or build)" >&2
    exit 2
    ;;
esac
cache=${BELLBOARD_CI_CACHE:-/var/cache/bellboard-ci}
root=$cache/$suite
src=$(cd "$(dirname "$0")/.." && pwd)
work=/srv/bellboard-ci

say() { echo "ci-root.sh ($suite): $*"; }
die() {
    say "$*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || die "cannot make a Debian root: needs root"
if ! command -v debootstrap >/dev/null; then
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap; } >/dev/null 2>&1 ||
        die "cannot make a Debian root: debootstrap is not installed and apt-get cannot install it"
fi
command -v chroot >/dev/null || die "cannot make a Debian root: no chroot command"

# The first Debian archive of the machine's apt sources: deb822 files first, then one-line
# lists. The security archive and any other archive are not the one debootstrap wants.
archive() {
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk 'tolower($1) == "uris:" { uri = $2 }
             tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i !~ /-security$/ && uri != "") { print uri; exit } }
             /^$/ { uri = "" }' "$f"
    done
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z+]+:\/\//) { if ($(i + 1) !~ /-security$/) print $i; break } }'
}
mirror=$(archive | head -n 1)
[ -n "$mirror" ] || die "cannot make a Debian root: no Debian archive in this machine's apt sources"

mounts=(proc sys dev dev/pts dev/shm)

# Every process whose root is ours: a test that left a server behind must not keep a mount.
end_processes() {
    local sig pid left
    for sig in TERM KILL; do
        left=
        for pid in $(ls /proc | grep -E '^[0-9]+$'); do
            [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] || continue
            kill -"$sig" "$pid" 2>/dev/null && left=1
        done
        [ -n "$left" ] || return 0
        sleep 2
    done
}

cleanup() {
    end_processes
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        mountpoint -q "$root/${mounts[i]}" && { umount "$root/${mounts[i]}" || umount -l "$root/${mounts[i]}"; }
    done
    rm -rf "${root:?}$work"
}

make_root() {
    say "making the root from $mirror"
    rm -rf "$root.new"
    mkdir -p "$cache"
    if ! debootstrap --variant=minbase "$suite" "$root.new" "$mirror" >"$cache/$suite-debootstrap.log" 2>&1; then
        rm -rf "$root.new"
        die "cannot make a Debian root: debootstrap $suite from $mirror failed: $(grep '^E:' "$cache/$suite-debootstrap.log" | tail -n 1) (log: $cache/$suite-debootstrap.log)"
    fi
    echo "deb $mirror $suite main" >"$root.new/etc/apt/sources.list"
    echo "deb $mirror $suite-updates main" >>"$root.new/etc/apt/sources.list"
    mv "$root.new" "$root"
}

[ -f "$root/etc/debian_version" ] || make_root
root=$(realpath "$root")
trap cleanup EXIT
trap 'exit 130' INT TERM
cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
# What is mounted under it must not show up in the machine's own /dev.
mount --make-rslave "$root/dev"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
mount -t tmpfs tmpfs "$root/dev/shm"

# A clean clone of what is committed, so nothing of this work tree's builds goes in.
rm -rf "${root:?}$work"
mkdir -p "$root$work"
git -C "$src" rev-parse HEAD >/dev/null 2>&1 || die "$src is not a git clone"
git clone -q --no-local "$src" "$root$work/bellboard" || die "cannot clone $src into the root"

say "Debian $(cat "$root/etc/debian_version"), commit $(git -C "$src" rev-parse --short HEAD)"
# make and git are all a new user adds; make test installs everything else.
chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TERM=dumb \
    CI="${CI:-}" DEBIAN_FRONTEND=noninteractive bash -c '
        set -e
        if ! command -v make >/dev/null || ! command -v git >/dev/null; then
            apt-get update -qq
            apt-get install -y -qq --no-install-recommends make git ca-certificates >/dev/null
        fi
        cd '"$work"'/bellboard
        make '"$goal"
status=$?
[ $status -eq 0 ] && say "make $goal passed" || say "make $goal failed ($status)"
exit $status
