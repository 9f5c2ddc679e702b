#!/usr/bin/env bash
# Starts a headless Wayland desktop for tests and returns once it answers.
#
#   start-desktop.sh sway [--scale S] [--size WxH] <dir>
#   start-desktop.sh gnome [--size WxH] <dir>
#
# <dir> receives the env file (<dir>/env: shell export lines to reach the
# desktop), the logs (<dir>/log) and a scratch home. A desktop still running
# from <dir> is stopped first. stop-desktop.sh <dir> ends it.
set -euo pipefail
here=$(dirname "$(realpath "$0")")

usage() {
  echo "usage: $0 sway|gnome [--scale S] [--size WxH] <dir>" >&2
  exit 2
}

[ $# -ge 2 ] || usage
desktop=$1
shift
scale=1
size=1280x720
while [ $# -gt 1 ]; do
  case $1 in
  --scale) scale=$2 ;;
  --size) size=$2 ;;
  *) usage ;;
  esac
  shift 2
done
[ $# -eq 1 ] || usage
[[ $size =~ ^[0-9]+x[0-9]+$ ]] || usage
[[ $scale =~ ^[0-9]+(\.[0-9]+)?$ ]] || usage

case $desktop in
sway) needs=(sway Xwayland pipewire wireplumber /usr/libexec/xdg-desktop-portal) ;;
gnome)
  needs=(gnome-shell Xwayland pipewire wireplumber /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-gnome)
  [ "$scale" = 1 ] || {
    echo "$0: the GNOME desktop runs at scale 1 only" >&2
    exit 2
  }
  ;;
*) usage ;;
esac
for tool in "${needs[@]}" gdbus xdpyinfo; do
  command -v "$tool" >/dev/null || {
    echo "$0: $tool is missing: run scripts/install-deps.sh" >&2
    exit 1
  }
done

mkdir -p "$1"
dir=$(realpath "$1")
"$here/stop-desktop.sh" "$dir"
mkdir -p "$dir/log"
rm -f "$dir/ready" "$dir/env" "$dir/log/"*.log

t0=$(date +%s%3N)
setsid "$here/session-$desktop.sh" "$dir" "$scale" "$size" </dev/null >"$dir/log/session.log" 2>&1 &
session=$!
# setsid made the session script a process-group leader: stop-desktop.sh ends the group.
echo "$session" >"$dir/pgid"

limit=$((t0 + ${QUILLO_WAYLAND_START_TIMEOUT:-60} * 1000))
until [ -s "$dir/ready" ]; do
  if ! kill -0 "$session" 2>/dev/null || grep -q '^State:.*zombie' "/proc/$session/status" 2>/dev/null; then
    echo "failed: the session script ended" >"$dir/ready"
  elif [ "$(date +%s%3N)" -ge "$limit" ]; then
    echo "failed: not ready within ${QUILLO_WAYLAND_START_TIMEOUT:-60} s" >"$dir/ready"
  else
    sleep 0.05
  fi
done

if [ "$(cat "$dir/ready")" != ok ]; then
  echo "$0: the $desktop desktop did not start ($(cat "$dir/ready")); logs in $dir/log:" >&2
  for log in "$dir/log/"*.log; do
    echo "== $log" >&2
    tail -n 15 "$log" >&2
  done
  "$here/stop-desktop.sh" "$dir"
  exit 1
fi
echo "$desktop desktop ready in $(($(date +%s%3N) - t0)) ms; env file: $dir/env"
