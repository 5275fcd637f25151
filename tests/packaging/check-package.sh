#!/usr/bin/env bash
# Checks the Debian package as it ships: check-package.sh contents|metadata|lintian DEB VERSION
#   contents  the program, its link, stop.wav, menu entry, icons, metadata and documents are
#             there and nothing lies outside /usr; Depends were worked out from the binary,
#             and Recommends names Qt's Wayland plugin
#   metadata  the desktop entry and the AppStream file pass their validators with no error
#             and no warning, and name files the package really holds
#   lintian   no error and no warning from Debian's package checker
set -euo pipefail
what=$1 deb=$2 version=$3
id=io.github.bellboard.Bellboard
fail=0
bad() {
    echo "FAIL: $*" >&2
    fail=1
}

[ -f "$deb" ] || { echo "no package at $deb: run make package" >&2; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

case $what in
contents)
    listing=$(dpkg-deb -c "$deb")
    expect=(usr/lib/bellboard/bellboard usr/lib/bellboard/stop.wav usr/bin/bellboard
        usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml
        usr/share/icons/hicolor/scalable/apps/$id.svg usr/share/man/man1/bellboard.1.gz
        usr/share/doc/bellboard/copyright usr/share/doc/bellboard/changelog.gz)
    for size in 16 24 32 48 64 128 256; do
        expect+=(usr/share/icons/hicolor/${size}x$size/apps/$id.png)
        # The file under each size folder must be a picture of that size.
        file -b "$root/usr/share/icons/hicolor/${size}x$size/apps/$id.png" |
            grep -q "^PNG image data, $size x $size," || bad "the ${size}px icon is not ${size} x $size"
    done
    for f in "${expect[@]}"; do
        grep -q " \./$f\( ->.*\)\?$" <<<"$listing" || bad "missing: /$f"
    done
    [ "$(readlink "$root/usr/bin/bellboard")" = ../lib/bellboard/bellboard ] ||
        bad "/usr/bin/bellboard is not a relative link to ../lib/bellboard/bellboard"
    [ -x "$root/usr/lib/bellboard/bellboard" ] && [ ! -L "$root/usr/lib/bellboard/bellboard" ] ||
        bad "/usr/lib/bellboard/bellboard is not the program itself"
    outside=$(awk '{ print $6 }' <<<"$listing" | grep -v '^\./usr/' | grep -vx '\./' || true)
    [ -z "$outside" ] || bad "files outside /usr: $outside"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || bad "Version is $(dpkg-deb -f "$deb" Version), wanted $version"
    zcat "$root/usr/share/doc/bellboard/changelog.gz" | head -1 | grep -q "^bellboard ($version) " ||
        bad "the changelog's newest entry is not $version"
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libqt6widgets6 libsndfile1 libc6; do
        grep -q "\b$lib\b" <<<"$depends" || bad "Depends lacks $lib: $depends"
    done
    # A Wayland session gets a native window only with Qt's Wayland plugin.
    grep -qw qt6-wayland <<<"$(dpkg-deb -f "$deb" Recommends)" || bad "Recommends lacks qt6-wayland"
    ;;
metadata)
    desktop=$root/usr/share/applications/$id.desktop
    metainfo=$root/usr/share/metainfo/$id.metainfo.xml
    out=$(desktop-file-validate "$desktop" 2>&1) || bad "desktop-file-validate failed"
    [ -z "$out" ] || bad "desktop-file-validate: $out"
    out=$(appstreamcli validate --no-net "$metainfo" 2>&1) || bad "appstreamcli validate failed"
    grep -E '^[EW]:' <<<"$out" && bad "appstreamcli reports errors or warnings"
    exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    [ -L "$root/usr/bin/$exec" ] || [ -x "$root/usr/bin/$exec" ] || bad "Exec=$exec is not in /usr/bin"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [ -f "$root/usr/share/icons/hicolor/48x48/apps/$icon.png" ] || bad "Icon=$icon has no icon in the package"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        bad "the metadata does not launch $id.desktop"
    ;;
lintian)
    # Lintian says so when run as root; that note is not about the package.
    lintian --fail-on error,warning "$deb" 2> >(grep -v 'running with root privileges' >&2) ||
        bad "lintian reports errors or warnings"
    ;;
*)
    echo "usage: $0 contents|metadata|lintian DEB VERSION" >&2
    exit 2
    ;;
esac
[ $fail -eq 0 ] && echo "$what: ok"
exit $fail
