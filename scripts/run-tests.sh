#!/usr/bin/env bash
# The whole suite: the Debian package, the plain build's tests (the package's checks among
# them), the engine's tests under ThreadSanitizer, short fuzz runs, then the same tests
# built with AddressSanitizer and UndefinedBehaviorSanitizer. Ends on CTest's summary line.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
status=0

step() {
    echo
    echo "==== $*"
}

# A skip is never silent: every row a suite skipped, with its reason, from CTest's log.
skipped() {
    local log=$1/Testing/Temporary/LastTest.log
    [ -f "$log" ] || return 0
    local lines
    lines=$(grep -E '^SKIP +: ' "$log" | sed -E 's/^SKIP +: +//' | sort -u)
    if [ -n "$lines" ]; then
        echo "Skipped on $(. /etc/os-release && echo "$PRETTY_NAME"):"
        sed 's/^/    /' <<<"$lines"
    fi
}

# Unformatted code fails at once, before anything is built.
step "formatting"
scripts/format.sh --check || exit 1

# First, so the package checks in the plain suite find it fresh; a build error shows here.
step "Debian package"
scripts/package.sh || status=1

step "plain build and tests"
if cmake --preset default && cmake --build --preset default -j "$jobs"; then
    # Sound tests listen to real playback: one dropout on a busy two-core machine can cut a
    # tone, so a failing test gets one more run. A real fault fails both.
    ctest --preset default -j "$jobs" --repeat until-pass:2 || status=1
    skipped build
else
    status=1
fi

# The engine's threads against fake outputs, under ThreadSanitizer: a few seconds.
step "thread sanitizer build and engine tests"
if cmake --preset tsan && cmake --build --preset tsan -j "$jobs"; then
    ctest --preset tsan || status=1
else
    status=1
fi

step "fuzzing, ${FUZZ_SECONDS}s per target"
scripts/run-fuzz.sh "$FUZZ_SECONDS" || status=1

step "sanitizer build and tests"
if cmake --preset asan && cmake --build --preset asan -j "$jobs"; then
    # The same, with every thread slowed down by the sanitizers.
    ctest --preset asan -j "$jobs" --repeat until-pass:2 || status=1
    skipped build-asan
else
    status=1
fi

exit $status
