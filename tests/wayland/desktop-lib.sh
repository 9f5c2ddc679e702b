# Shared by the session scripts of the headless test desktops (sourced, not run).
#
# A session runs in a process group and session of its own (start-desktop.sh
# starts it under setsid) and keeps every file in two places: the desktop's
# folder $DIR (env file, logs, scratch home) and a short runtime folder under
# /tmp (sockets: their paths must stay below 108 bytes). Every process it starts
# carries QUILLO_WAYLAND_SESSION=$DIR in its environment, so stop-desktop.sh
# also finds the ones that left the process group (D-Bus activated services).

XDPW_DIR=/usr/local/libexec/quillo-test

# Reports the session's outcome to start-desktop.sh, which waits for this file.
session_fail() {
  echo "failed: $*" >"$DIR/ready"
  echo "session: $*" >&2
  exit 1
}

now_ms() { date +%s%3N; }

# wait_for <seconds> <what> <command...>: polls the command until it succeeds.
wait_for() {
  local limit=$1 what=$2 deadline
  shift 2
  deadline=$(($(now_ms) + limit * 1000))
  until "$@" >/dev/null 2>&1; do
    [ "$(now_ms)" -lt "$deadline" ] || session_fail "$what did not answer within ${limit} s"
    sleep 0.02
  done
  echo "session: $what ready after $(($(now_ms) - SESSION_T0)) ms"
}

session_begin() {
  SESSION_T0=$(now_ms)
  # A step that fails unexpectedly ends the script (set -e): say so at once.
  trap '[ -s "$DIR/ready" ] || echo "failed: a step of the session script failed (see session.log)" >"$DIR/ready"' EXIT
  export QUILLO_WAYLAND_SESSION=$DIR
  RUN=$(mktemp -d /tmp/quillo-wl.XXXXXX)
  chmod 700 "$RUN"
  echo "$RUN" >>"$DIR/runtime-dirs"
  # A scratch home: the desktops' settings, permission store and caches.
  rm -rf "$DIR/home"
  mkdir -p "$DIR/home"
  export HOME=$DIR/home XDG_RUNTIME_DIR=$RUN XDG_SESSION_TYPE=wayland
  export XDG_CONFIG_HOME=$DIR/home/.config XDG_DATA_HOME=$DIR/home/.local/share
  export XDG_STATE_HOME=$DIR/home/.local/state XDG_CACHE_HOME=$DIR/home/.cache
  unset DISPLAY WAYLAND_DISPLAY XAUTHORITY DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER
  export NO_AT_BRIDGE=1 GTK_A11Y=none
}

bus_has_name() {
  gdbus call --timeout 2 --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner "$1" | grep -q true
}

# A private, empty system bus (gnome-shell aborts without one, and the desktops
# must not reach the machine's own logind, accounts or network services, if it
# has any) and a session bus.
start_buses() {
  cat >"$RUN/system-bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$RUN/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  dbus-daemon --nofork --nosyslog --config-file="$RUN/system-bus.conf" >"$DIR/log/system-bus.log" 2>&1 &
  dbus-daemon --nofork --nosyslog --session --address="unix:path=$RUN/bus" >"$DIR/log/session-bus.log" 2>&1 &
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$RUN/system_bus_socket
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$RUN/bus
  wait_for 10 "the system bus" gdbus call --timeout 2 --system --dest org.freedesktop.DBus \
    --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.GetId
  wait_for 10 "the session bus" bus_has_name org.freedesktop.DBus
}

pipewire_has_session_manager() {
  pw-cli ls Client 2>/dev/null | grep -q '"WirePlumber"'
}

start_pipewire() {
  export PIPEWIRE_RUNTIME_DIR=$RUN
  pipewire >"$DIR/log/pipewire.log" 2>&1 &
  wait_for 10 "pipewire" test -S "$RUN/pipewire-0"
  wireplumber >"$DIR/log/wireplumber.log" 2>&1 &
  wait_for 10 "wireplumber" pipewire_has_session_manager
}

portal_answers() {
  bus_has_name org.freedesktop.portal.Desktop &&
    gdbus call --timeout 2 --session --dest org.freedesktop.portal.Desktop --object-path /org/freedesktop/portal/desktop \
      --method org.freedesktop.DBus.Properties.Get org.freedesktop.portal.ScreenCast version
}

# Starts xdg-desktop-portal (with the given extra environment) once its
# backend owns its name, and waits until the ScreenCast interface answers.
# Started here rather than by D-Bus activation, so its log is ours; asking for
# the interface only after the name is owned keeps D-Bus from activating a
# second one.
start_portal() {
  env "$@" /usr/libexec/xdg-desktop-portal >"$DIR/log/xdg-desktop-portal.log" 2>&1 &
  wait_for 15 "the ScreenCast portal" portal_answers
}

# The X display an XWayland server of the given process owns: its lock file
# holds that pid.
x_display_of() {
  local lock
  for lock in /tmp/.X[0-9]*-lock; do
    [ -f "$lock" ] || continue
    if [ "$({ tr -cd '0-9' <"$lock"; } 2>/dev/null)" = "$1" ]; then
      lock=${lock#/tmp/.X}
      echo ":${lock%-lock}"
      return 0
    fi
  done
  return 1
}

# Writes the env file last, so a test that finds it finds a desktop that answers.
write_env() {
  local name value
  {
    echo "# The headless $QUILLO_WAYLAND_DESKTOP desktop started by tests/wayland/start-desktop.sh"
    for name in QUILLO_WAYLAND_DESKTOP QUILLO_WAYLAND_DIR QUILLO_WAYLAND_SCALE QUILLO_WAYLAND_OUTPUT_SIZE \
      XDG_SESSION_TYPE XDG_CURRENT_DESKTOP XDG_RUNTIME_DIR WAYLAND_DISPLAY DISPLAY XAUTHORITY \
      DBUS_SESSION_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS PIPEWIRE_RUNTIME_DIR "$@"; do
      value=${!name:-}
      [ -z "$value" ] || printf 'export %s=%q\n' "$name" "$value"
    done
  } >"$DIR/env.tmp"
  mv "$DIR/env.tmp" "$DIR/env"
  echo "session: ready after $(($(now_ms) - SESSION_T0)) ms"
  echo ok >"$DIR/ready"
}
