#!/usr/bin/env bash
# Installs what is missing, builds, checks the formatting and runs every test.
# One ctest run under a private X server: tests labelled x11 use it, tests
# labelled wayland start their own headless desktops (tests/wayland), the rest
# run offscreen (each carries QT_QPA_PLATFORM=offscreen).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
./scripts/check-format.sh
BUILD_DIR=${QUILLO_BUILD_DIR:-build}
# Tests write the log and settings of a user: keep them out of the real ones.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_STATE_HOME="$scratch/state" XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
cd "$BUILD_DIR"
xvfb-run -a ctest --output-on-failure -j "$(nproc)" "$@"
