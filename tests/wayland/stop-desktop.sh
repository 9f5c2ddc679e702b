#!/usr/bin/env bash
# Stops the headless desktop start-desktop.sh started in <dir>, and every
# process it or its helpers started, and removes its runtime folders. Keeps
# the logs. Quiet and successful when nothing runs.
#
#   stop-desktop.sh <dir>
set -uo pipefail
[ $# -eq 1 ] || {
  echo "usage: $0 <dir>" >&2
  exit 2
}
[ -d "$1" ] || exit 0
dir=$(realpath "$1")

# The session's live processes: its process group, and the processes that left
# it (D-Bus activated services, clients the helpers started), which carry its
# tag in their environment. Zombies are left to their reaper.
members() {
  local f line rest
  for f in /proc/[0-9]*/stat; do
    { read -r line <"$f"; } 2>/dev/null || continue
    rest=${line##*) }
    # shellcheck disable=SC2086
    set -- $rest
    [ "$1" != Z ] && [ "$3" = "$pgid" ] && { f=${f#/proc/} && echo "${f%/stat}"; }
  done
  grep -lzxF "QUILLO_WAYLAND_SESSION=$dir" /proc/[0-9]*/environ 2>/dev/null |
    sed -n 's#^/proc/\([0-9]*\)/environ$#\1#p'
}

# Signals until every member is gone: a compositor that loses its XWayland
# may start another before it ends itself, so late-comers get the signal too.
end_members() {
  local signal=$1 rounds=$2 pids
  for _ in $(seq "$rounds"); do
    pids=$(members | grep -vx "$$" | sort -u)
    [ -n "$pids" ] || return 0
    # shellcheck disable=SC2086
    kill "-$signal" $pids 2>/dev/null
    sleep 0.1
  done
  [ -z "$(members | grep -vx "$$")" ]
}

pgid=$(cat "$dir/pgid" 2>/dev/null)
pgid=${pgid:-none}

# XWayland's displays: the lock files name the compositor (or XWayland) that
# holds them. mutter takes two; neither it nor a killed XWayland removes them.
live=" $(members | tr '\n' ' ') "
x_locks=()
for lock in /tmp/.X[0-9]*-lock; do
  [ -f "$lock" ] || continue
  owner=$({ tr -cd '0-9' <"$lock"; } 2>/dev/null)
  [[ -n $owner && $live == *" $owner "* ]] && x_locks+=("$lock:$owner")
done

if ! end_members TERM 30; then
  echo "$0: processes of $dir ignored TERM for 3 s, killing them" >&2
  end_members KILL 20
fi

for entry in "${x_locks[@]}"; do
  lock=${entry%:*}
  if [ "$({ tr -cd '0-9' <"$lock"; } 2>/dev/null)" = "${entry##*:}" ]; then
    n=${lock#/tmp/.X}
    rm -f "$lock" "/tmp/.X11-unix/X${n%-lock}"
  fi
done

if [ -f "$dir/runtime-dirs" ]; then
  while read -r run; do
    case $run in /tmp/quillo-*) rm -rf "$run" ;; esac
  done <"$dir/runtime-dirs"
fi
rm -f "$dir/pgid" "$dir/ready" "$dir/env" "$dir/runtime-dirs"
if [ -n "$(members | grep -vx "$$")" ]; then
  echo "$0: some processes of $dir are still running" >&2
  exit 1
fi
