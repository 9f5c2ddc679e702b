#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quillo on the current X display
# (any extra arguments are passed to it).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
exec "${QUILLO_BUILD_DIR:-build}/src/app/quillo" "$@"
