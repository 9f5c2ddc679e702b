#!/usr/bin/env bash
# Prints a fresh ScreenCast restore token for the headless GNOME desktop the
# environment points at (see run-in.sh): SelectSources with it and
# persist_mode 2 shares the virtual monitor without the consent dialog.
#
# The desktop's env file holds one (QUILLO_WAYLAND_RESTORE_TOKEN). The GNOME
# portal of Debian 12 keeps a token valid after use (Start returns the same
# one), so tests may share it; this gives a test one of its own.
set -euo pipefail
[ "${QUILLO_WAYLAND_DESKTOP:-}" = gnome ] || {
  echo "$0: needs the headless GNOME desktop's environment (run-in.sh)" >&2
  exit 2
}
token=$(cat /proc/sys/kernel/random/uuid)
now_us=$(($(date +%s%N) / 1000))
# What xdg-desktop-portal-gnome itself stores once the dialog was answered with
# the virtual monitor: its own name, data version 1, creation and last-use
# times, and the monitor (type monitor, matched by vendor:product:serial).
gdbus call --timeout 10 --session --dest org.freedesktop.impl.portal.PermissionStore \
  --object-path /org/freedesktop/impl/portal/PermissionStore \
  --method org.freedesktop.impl.portal.PermissionStore.Set \
  screencast true "$token" "{'': ['yes']}" \
  "<('GNOME', uint32 1, <(int64 $now_us, int64 $now_us, [(uint32 0, uint32 1, <'MetaVendor:MetaVirtualMonitor:0x00'>)])>)>" \
  >/dev/null
echo "$token"
