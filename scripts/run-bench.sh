#!/usr/bin/env bash
# Runs every benchmark built under build/bench; each prints its own table.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
for b in build/bench/*/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" || status=1
done
exit $status
