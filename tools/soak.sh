#!/usr/bin/env bash
# Builds the soak tool and plays every demo show and the generated stress shows for 10 hours of
# show time on the virtual clock (tens of minutes of wall time), reporting the resident memory per
# simulated hour. Arguments are passed on (e.g. --hours 2). Exit 0 when memory stayed flat.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
[ -f "$BUILD/build.ninja" ] || cmake -S . -B "$BUILD" -G Ninja
cmake --build "$BUILD" --target tool_soak
"$BUILD/tool_soak" "$@"
