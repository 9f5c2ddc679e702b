#!/usr/bin/env bash
# A headless sway (wlroots) desktop: pixman renderer, one output, XWayland,
# pipewire + wireplumber, the wlroots ScreenCast portal without a chooser.
# Run by start-desktop.sh: session-sway.sh <dir> <scale> <WxH>
set -euo pipefail
DIR=$1
export QUILLO_WAYLAND_SCALE=$2 QUILLO_WAYLAND_OUTPUT_SIZE=$3
. "$(dirname "$(realpath "$0")")/desktop-lib.sh"

session_begin
export QUILLO_WAYLAND_DESKTOP=sway QUILLO_WAYLAND_DIR=$DIR XDG_CURRENT_DESKTOP=sway
start_buses
start_pipewire

# sway refuses to run as root. Then only sway (and the XWayland it starts)
# runs as nobody, in a runtime folder of its own; everything else, tests
# included, stays root, which reaches sway's sockets through links in $RUN.
# The portal must share the tests' uid: it identifies its callers through
# /proc/<pid>/root, which another uid may not open.
as_sway=()
sway_run=$RUN
if [ "$(id -u)" -eq 0 ]; then
  as_sway=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  sway_run=$(mktemp -d /tmp/quillo-sway.XXXXXX)
  echo "$sway_run" >>"$DIR/runtime-dirs"
  chown 65534:65534 "$sway_run"
  chmod 700 "$sway_run"
  # XWayland creates its socket here; a folder another uid created first
  # would lock the machine's other X servers out.
  mkdir -p /tmp/.X11-unix
  chmod 1777 /tmp/.X11-unix
fi

cat >"$sway_run/config" <<EOF
output HEADLESS-1 mode $QUILLO_WAYLAND_OUTPUT_SIZE position 0 0 scale $QUILLO_WAYLAND_SCALE
xwayland force
default_border none
default_floating_border none
focus_follows_mouse no
EOF
chmod 644 "$sway_run/config"

"${as_sway[@]}" env -i PATH="$PATH" HOME="$sway_run" XDG_RUNTIME_DIR="$sway_run" LANG=C.UTF-8 \
  QUILLO_WAYLAND_SESSION="$DIR" WLR_BACKENDS=headless WLR_RENDERER=pixman \
  WLR_LIBINPUT_NO_DEVICES=1 WLR_HEADLESS_OUTPUTS=1 \
  sway -c "$sway_run/config" >"$DIR/log/sway.log" 2>&1 &
sway_pid=$!

sway_sockets() {
  compgen -G "$sway_run/sway-ipc.*.sock" && compgen -G "$sway_run/wayland-[0-9]"
}
wait_for 15 "sway" sway_sockets
SWAYSOCK=$(compgen -G "$sway_run/sway-ipc.*.sock")
wayland_socket=$(compgen -G "$sway_run/wayland-[0-9]" | head -n 1)
export WAYLAND_DISPLAY=${wayland_socket##*/}
if [ "$sway_run" != "$RUN" ]; then
  ln -s "$wayland_socket" "$RUN/$WAYLAND_DISPLAY"
  ln -s "$SWAYSOCK" "$RUN/sway-ipc.sock"
  SWAYSOCK=$RUN/sway-ipc.sock
fi
export SWAYSOCK
wait_for 15 "sway's IPC" swaymsg -t get_outputs

sway_display() { DISPLAY=$(x_display_of "$sway_pid"); }
wait_for 15 "XWayland's socket" sway_display
export DISPLAY
# sway's XWayland has no cookie: it admits its own uid only, until told
# otherwise. An empty authority file keeps a caller's cookie file (xvfb-run
# sets one) out of the way.
xwayland_admits_us() {
  if [ ${#as_sway[@]} -gt 0 ]; then
    "${as_sway[@]}" env -i DISPLAY="$DISPLAY" xhost "+si:localuser:$(id -un)" || return 1
  fi
  xdpyinfo -display "$DISPLAY"
}
export XAUTHORITY=$RUN/Xauthority
: >"$XAUTHORITY"
wait_for 15 "XWayland" xwayland_admits_us

dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XAUTHORITY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE

[ -x "$XDPW_DIR/xdg-desktop-portal-wlr" ] || session_fail "$XDPW_DIR/xdg-desktop-portal-wlr is missing: run scripts/install-deps.sh"
# No chooser: the portal streams the one output without asking, at the
# output's rate (xdpw's own limit is lower).
cat >"$RUN/xdpw.conf" <<EOF
[screencast]
output_name=HEADLESS-1
chooser_type=none
max_fps=60
EOF
"$XDPW_DIR/xdg-desktop-portal-wlr" -c "$RUN/xdpw.conf" -l INFO >"$DIR/log/xdg-desktop-portal-wlr.log" 2>&1 &
wait_for 15 "xdg-desktop-portal-wlr" bus_has_name org.freedesktop.impl.portal.desktop.wlr
start_portal XDG_DESKTOP_PORTAL_DIR="$XDPW_DIR/portals"

write_env SWAYSOCK
wait
