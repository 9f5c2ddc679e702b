#!/usr/bin/python3
"""A screenshot of the headless desktop the environment points at (see
run-in.sh): the whole output as a PNG at its pixel size, without the cursor.

    screenshot.py OUT.png

sway: grim. GNOME: one frame of mutter's own screencast of the monitor
(org.gnome.Mutter.ScreenCast), which does not pass through the portal."""

import subprocess
import sys

import desktop


def gnome_screenshot(path):
    import dbus
    import dbus.mainloop.glib
    from gi.repository import GLib

    import pwframes

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = "org.gnome.Mutter.ScreenCast"
    screencast = bus.get_object(name, "/org/gnome/Mutter/ScreenCast")
    session = bus.get_object(name, screencast.CreateSession({}, dbus_interface=name))
    # An empty connector: the primary monitor. Cursor mode 0: hidden.
    stream = bus.get_object(
        name,
        session.RecordMonitor("", {"cursor-mode": dbus.UInt32(0)}, dbus_interface=f"{name}.Session"),
    )
    loop = GLib.MainLoop()
    node = []

    def on_stream_added(node_id):
        node.append(int(node_id))
        loop.quit()

    stream.connect_to_signal("PipeWireStreamAdded", on_stream_added, dbus_interface=f"{name}.Stream")
    session.Start(dbus_interface=f"{name}.Session")
    timer = GLib.timeout_add(10000, loop.quit)
    loop.run()
    try:
        if not node:
            sys.exit("screenshot: mutter's screencast gave no stream within 10 s")
        GLib.source_remove(timer)
        pwframes.read_frames(node[0], max_frames=1).save_png(path)
    finally:
        session.Stop(dbus_interface=f"{name}.Session")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    if desktop.name() == "sway":
        subprocess.run(["grim", sys.argv[1]], check=True)
    else:
        gnome_screenshot(sys.argv[1])


if __name__ == "__main__":
    main()
