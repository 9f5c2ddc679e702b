#!/usr/bin/env bash
# Builds Quillo and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ (or $QUILLO_BUILD_DIR) and runs every test there, as
# scripts/test.sh does. Any report fails the test it came from: ASan and UBSan
# stop the program at the first fault, LeakSanitizer at exit. Arguments go to
# ctest (for example -L unit, or -R Editor).
#
#   cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLO_SANITIZE=address,undefined
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
BUILD_DIR=${QUILLO_BUILD_DIR:-build-asan}
./scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLO_SANITIZE=address,undefined >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_STATE_HOME="$scratch/state" XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# Children (the program under the end-to-end tests) inherit these.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$BUILD_DIR"
xvfb-run -a ctest --output-on-failure -j "$(nproc)" --timeout 900 "$@"
