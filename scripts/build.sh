#!/usr/bin/env bash
# Configures and builds Tessel into build/ (ready-to-run folder: build/run/).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TESSEL_BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$build"
