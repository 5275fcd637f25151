#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when any is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libsndfile1-dev libpulse-dev libpipewire-0.3-dev libsdl2-dev libasound2-dev libxcb-xkb-dev
)
test_packages=(
    xvfb xauth xdotool x11-utils imagemagick
    pulseaudio pulseaudio-utils sox
    pipewire pipewire-pulse wireplumber
    clang clang-format
    sway grim wtype qt6-wayland libwayland-dev
)
# Building the Debian package (dpkg-shlibdeps, dpkg-buildflags; CPack looks at binaries with
# file), and checking it.
package_packages=(dpkg-dev file)
package_check_packages=(lintian desktop-file-utils appstream)

want=("${packages[@]}")
case "${1:-}" in
--test) want+=("${test_packages[@]}" "${package_packages[@]}" "${package_check_packages[@]}") ;;
--package) want+=("${package_packages[@]}") ;;
--format) want+=(clang-format) ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
updated=
install() {
    local p missing=()
    for p in "$@"; do
        installed "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if [ -z "$updated" ]; then
        "${sudo[@]}" apt-get update -qq
        updated=1
    fi
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
    new+=("${missing[@]}")
}

new=()
install "${want[@]}"
# The fuzzers link clang's own sanitizer runtime, which each release ships under its clang's
# major version.
if [ "${1:-}" = --test ]; then
    install "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
fi
missing=("${new[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

# Installing pipewire-pulse and wireplumber enables them for every user's next login, where
# they would take over from a desktop's PulseAudio. The tests start their own by hand, so a
# fresh install of them stays off; a desktop that already ran them is left as it was.
units=()
for p in "${missing[@]}"; do
    case $p in
    pipewire-pulse) units+=(pipewire-pulse.socket pipewire-pulse.service) ;;
    wireplumber) units+=(wireplumber.service) ;;
    esac
done
if [ ${#units[@]} -gt 0 ] && command -v systemctl >/dev/null; then
    "${sudo[@]}" systemctl --global disable "${units[@]}" || true
fi
