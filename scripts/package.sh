#!/usr/bin/env bash
# Builds the Debian package in build-package/ with the system-wide layout and leaves exactly one
# build/bellboard_<version>_<arch>.deb. Prints that file's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# Debian's hardening flags, as a package built by dpkg-buildpackage would get them, with
# bind-now as well.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake --preset package -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build --preset package -j "$jobs"
rm -f build-package/bellboard_*.deb
(cd build-package && cpack -G DEB >/dev/null)

debs=(build-package/bellboard_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "cpack left ${#debs[@]} packages: ${debs[*]}" >&2
    exit 1
fi
mkdir -p build
rm -f build/bellboard_*.deb
cp "${debs[0]}" build/
echo "build/$(basename "${debs[0]}")"
