#!/usr/bin/env bash
# A headless GNOME desktop: gnome-shell with a virtual monitor and XWayland,
# pipewire + wireplumber, the GNOME ScreenCast portal with a restore token in
# the permission store, so no consent dialog appears.
# Run by start-desktop.sh: session-gnome.sh <dir> 1 <WxH>
set -euo pipefail
DIR=$1
export QUILLO_WAYLAND_SCALE=$2 QUILLO_WAYLAND_OUTPUT_SIZE=$3
here=$(dirname "$(realpath "$0")")
. "$here/desktop-lib.sh"

session_begin
export QUILLO_WAYLAND_DESKTOP=gnome QUILLO_WAYLAND_DIR=$DIR
export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_DESKTOP=gnome
start_buses
start_pipewire

# Settings the shell reads at start (dconf, activated on the session bus,
# keeps them in the scratch home): no banners over the screen (the shell
# announces a root session and unsafe mode with one), no animations, no
# lock screen or blanking, new windows centred; and the extension that
# lets the helpers run scripts in the shell.
extension=quillo-test@quillo.org
mkdir -p "$XDG_DATA_HOME/gnome-shell/extensions"
cp -r "$here/gnome-extension/$extension" "$XDG_DATA_HOME/gnome-shell/extensions/"
while read -r schema key value; do
  gsettings set "$schema" "$key" "$value"
done <<EOF
org.gnome.shell enabled-extensions ['$extension']
org.gnome.shell disable-user-extensions false
org.gnome.shell disable-extension-version-validation true
org.gnome.shell welcome-dialog-last-shown-version '999'
org.gnome.desktop.notifications show-banners false
org.gnome.desktop.interface enable-animations false
org.gnome.desktop.session idle-delay uint32 0
org.gnome.desktop.screensaver lock-enabled false
org.gnome.desktop.screensaver idle-activation-enabled false
org.gnome.mutter center-new-windows true
EOF

gnome-shell --headless --wayland --virtual-monitor "$QUILLO_WAYLAND_OUTPUT_SIZE" \
  >"$DIR/log/gnome-shell.log" 2>&1 &

shell_eval() {
  gdbus call --timeout 5 --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
    --method org.gnome.Shell.Eval "$1"
}
wait_for 30 "gnome-shell" shell_eval 1
# The shell starts in the Activities overview; leaving it before its start-up
# animation ends would not last.
shell_started() { shell_eval 'Main.layoutManager._startingUp' | grep -q "'false'"; }
wait_for 30 "gnome-shell's start-up" shell_started
shell_eval 'Main.overview.hide()' >/dev/null
overview_hidden() { shell_eval 'Main.overview.visible || Main.overview.animationInProgress' | grep -q "'false'"; }
wait_for 10 "leaving the overview" overview_hidden

# The displays the shell gives its own clients. mutter holds two X displays:
# the other one is for itself.
shell_getenv() { shell_eval "imports.gi.GLib.getenv('$1')" | sed -n "s/^(true, '\"\(.*\)\"')\$/\1/p"; }
shell_displays() {
  WAYLAND_DISPLAY=$(shell_getenv WAYLAND_DISPLAY)
  DISPLAY=$(shell_getenv DISPLAY)
  XAUTHORITY=$(shell_getenv XAUTHORITY)
  [ -S "$RUN/$WAYLAND_DISPLAY" ] && [ -n "$DISPLAY" ] && [ -f "$XAUTHORITY" ]
}
wait_for 15 "gnome-shell's displays" shell_displays
export WAYLAND_DISPLAY DISPLAY XAUTHORITY
wait_for 15 "XWayland" xdpyinfo -display "$DISPLAY"

dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XAUTHORITY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE
/usr/libexec/xdg-desktop-portal-gnome >"$DIR/log/xdg-desktop-portal-gnome.log" 2>&1 &
wait_for 15 "xdg-desktop-portal-gnome" bus_has_name org.freedesktop.impl.portal.desktop.gnome
start_portal

QUILLO_WAYLAND_RESTORE_TOKEN=$("$here/restore-token.sh") || session_fail "could not seed a restore token"
export QUILLO_WAYLAND_RESTORE_TOKEN

write_env QUILLO_WAYLAND_RESTORE_TOKEN
wait
