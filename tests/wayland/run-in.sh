#!/usr/bin/env bash
# Runs a command inside the headless desktop started in <dir>: its env file
# replaces the caller's display, buses and runtime folder.
#
#   run-in.sh <dir> <command> [args...]
set -euo pipefail
[ $# -ge 2 ] || {
  echo "usage: $0 <dir> <command> [args...]" >&2
  exit 2
}
env_file=$1/env
[ -f "$env_file" ] || {
  echo "$0: no desktop runs in $1 (start it with start-desktop.sh)" >&2
  exit 1
}
shift
# shellcheck source=/dev/null
. "$env_file"
exec "$@"
