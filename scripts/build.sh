#!/usr/bin/env bash
# Configures and builds Quillo and its tests into build/ (or $QUILLO_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${QUILLO_BUILD_DIR:-build}
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLO_WERROR="$werror" >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)"
