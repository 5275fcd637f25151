#!/usr/bin/env bash
# Builds and runs the whole suite; ends on CTest's summary line.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"
