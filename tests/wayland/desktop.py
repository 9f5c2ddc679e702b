"""Small pieces the helpers of the headless test desktops share. They run in
the desktop's environment (see run-in.sh)."""

import json
import os
import signal
import time


def name():
    desktop = os.environ.get("QUILLO_WAYLAND_DESKTOP")
    if desktop not in ("sway", "gnome"):
        raise SystemExit("no headless desktop in the environment: run this through tests/wayland/run-in.sh")
    return desktop


def tagged_env():
    """The environment for a process the desktop's stop script must end too."""
    return dict(os.environ, QUILLO_WAYLAND_SESSION=os.environ["QUILLO_WAYLAND_DIR"])


def _running(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def end_process(pid, timeout=3.0):
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + timeout
    while _running(pid) and time.monotonic() < deadline:
        time.sleep(0.02)
    if _running(pid):
        os.kill(pid, signal.SIGKILL)


def shell_eval(script):
    """Runs JavaScript in gnome-shell (the test desktop runs it in unsafe mode)
    and returns the value of its last expression."""
    import dbus

    shell = dbus.SessionBus().get_object("org.gnome.Shell", "/org/gnome/Shell")
    ok, result = shell.Eval(script, dbus_interface="org.gnome.Shell")
    if not ok:
        raise RuntimeError(f"gnome-shell could not run the script: {result}")
    return json.loads(result) if result else None
