#!/usr/bin/python3
"""Checks the chain a portal recording relies on, in the desktop the environment
points at (run it through run-in.sh): a ScreenCast portal session for a monitor
starts without a dialog, its stream covers the output in logical coordinates,
and frames arrive from PipeWire at the output's pixel size and change while a
client animates.

    run-in.sh <dir> portal-smoke.py [--seconds S] [--png FILE]

Prints what it measured; exits 1 on the first expectation that fails."""

import argparse
import os
import subprocess
import sys
import time

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pwframes  # noqa: E402

PORTAL = "org.freedesktop.portal.Desktop"
PORTAL_PATH = "/org/freedesktop/portal/desktop"
SCREENCAST = "org.freedesktop.portal.ScreenCast"
CURSOR_EMBEDDED = 2
MIN_FRAMES = 10


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


class Portal:
    def __init__(self):
        dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
        self.bus = dbus.SessionBus()
        self.object = self.bus.get_object(PORTAL, PORTAL_PATH)
        self.screencast = dbus.Interface(self.object, SCREENCAST)
        self.sender = self.bus.get_unique_name()[1:].replace(".", "_")
        self.serial = 0

    def property(self, name):
        return self.object.Get(SCREENCAST, name, dbus_interface=dbus.PROPERTIES_IFACE)

    def request(self, method, *args, options, timeout=20):
        """Calls a method that answers through a Request object, subscribed to
        before the call so the answer cannot be missed."""
        self.serial += 1
        token = f"quillo_smoke{os.getpid()}_{self.serial}"
        path = f"{PORTAL_PATH}/request/{self.sender}/{token}"
        answer = {}
        loop = GLib.MainLoop()

        def on_response(code, results):
            answer["code"], answer["results"] = int(code), results
            loop.quit()

        match = self.bus.add_signal_receiver(
            on_response, "Response", "org.freedesktop.portal.Request", PORTAL, path
        )
        options = dict(options, handle_token=token)
        handle = getattr(self.screencast, method)(*args, dbus.Dictionary(options, signature="sv"))
        if handle != path:
            fail(f"{method} answered on {handle}, expected {path}")
        timer = GLib.timeout_add(timeout * 1000, loop.quit)
        loop.run()
        match.remove()
        if "code" not in answer:
            fail(f"{method} did not answer within {timeout} s (a consent dialog?)")
        GLib.source_remove(timer)
        if answer["code"] != 0:
            fail(f"{method} answered {answer['code']} (1 cancelled, 2 failed)")
        return answer["results"]


def describe_token(given, returned):
    if not returned:
        return "none"
    return "the one given" if returned == given else "a new one"


def start_client():
    """An animating client, so that frames keep coming."""
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run(
        [os.path.join(here, "wl-client.py"), "start", "100", "100"],
        check=True,
        capture_output=True,
        text=True,
    ).stdout.split()
    return int(out[0])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=2.0)
    parser.add_argument("--png", help="write the last frame here")
    args = parser.parse_args()

    desktop = os.environ.get("QUILLO_WAYLAND_DESKTOP")
    if not desktop:
        fail("no desktop in the environment: run this through run-in.sh")
    scale = float(os.environ["QUILLO_WAYLAND_SCALE"])
    out_w, out_h = (int(v) for v in os.environ["QUILLO_WAYLAND_OUTPUT_SIZE"].split("x"))

    client = start_client()
    try:
        portal = Portal()
        version = int(portal.property("version"))
        cursor_modes = int(portal.property("AvailableCursorModes"))
        print(f"{desktop}: ScreenCast portal version {version}, cursor modes {cursor_modes:#x}")

        t0 = time.monotonic()
        session = portal.request(
            "CreateSession", options={"session_handle_token": f"quillo_smoke{os.getpid()}"}
        )["session_handle"]
        select = {"types": dbus.UInt32(1), "multiple": False, "persist_mode": dbus.UInt32(2)}
        if cursor_modes & CURSOR_EMBEDDED:
            select["cursor_mode"] = dbus.UInt32(CURSOR_EMBEDDED)
        token = os.environ.get("QUILLO_WAYLAND_RESTORE_TOKEN")
        if token:
            select["restore_token"] = token
        portal.request("SelectSources", session, options=select)
        started = portal.request("Start", session, "", options={})
        t_start = time.monotonic() - t0
        streams = started.get("streams", [])
        if len(streams) != 1:
            fail(f"Start gave {len(streams)} streams, expected 1")
        node, props = int(streams[0][0]), streams[0][1]
        position = tuple(int(v) for v in props.get("position", (0, 0)))
        size = tuple(int(v) for v in props.get("size", (0, 0)))
        print(
            f"session started in {t_start * 1000:.0f} ms: node {node}, position {position}, "
            f"size {size}, restore token {describe_token(token, started.get('restore_token'))}"
        )
        # GNOME gives the monitor's logical size; xdg-desktop-portal-wlr 0.7 gives
        # its mode, in pixels: on sway the scale must come from elsewhere (the
        # XWayland screen's size, which is logical).
        expected = (round(out_w / scale), round(out_h / scale)) if desktop == "gnome" else (out_w, out_h)
        if position != (0, 0) or size != expected:
            fail(f"the stream covers {position} {size}, expected (0, 0) {expected}")

        fd = portal.screencast.OpenPipeWireRemote(session, dbus.Dictionary({}, signature="sv")).take()
        frames = pwframes.read_frames(node, fd=fd, seconds=args.seconds, min_frames=MIN_FRAMES)
        os.close(fd)
        print(
            f"{len(frames.times)} frames in {frames.times[-1] - frames.times[0]:.1f} s after the first "
            f"({frames.first_after * 1000:.0f} ms after connecting): {frames.fps():.1f} fps, "
            f"{frames.size[0]}x{frames.size[1]} pixels, {frames.changed} changed"
        )
        if args.png:
            frames.save_png(args.png)
        dbus.Interface(portal.bus.get_object(PORTAL, session), "org.freedesktop.portal.Session").Close()

        if frames.size != (out_w, out_h):
            fail(f"frames of {frames.size}, expected the output's {out_w}x{out_h} pixels")
        if len(frames.times) < MIN_FRAMES or frames.changed < MIN_FRAMES // 2:
            fail("too few frames, or frames that do not change while a client animates")
        print("OK")
    finally:
        subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)), "wl-client.py"), "stop", str(client)])


if __name__ == "__main__":
    main()
