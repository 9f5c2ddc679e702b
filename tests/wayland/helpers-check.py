#!/usr/bin/python3
"""Checks the helpers the end-to-end tests rely on, in the desktop the
environment points at (run it through run-in.sh): the animating client lands
where it was placed, at the output's scale, in screenshots of the output; and
xdotool clicks and types into an XWayland window.

    run-in.sh <dir> helpers-check.py

Prints what it found; exits 1 on the first expectation that fails."""

import os
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf  # noqa: E402

import desktop  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def screenshot(path):
    subprocess.run([os.path.join(HERE, "screenshot.py"), path], check=True)
    pixbuf = GdkPixbuf.Pixbuf.new_from_file(path)
    return pixbuf.get_width(), pixbuf.get_height(), pixbuf.get_rowstride(), pixbuf.get_n_channels(), pixbuf.get_pixels()


def pixel(shot, x, y):
    _, _, stride, channels, data = shot
    at = y * stride + x * channels
    return data[at : at + 3]


def check_client(scratch):
    scale = float(os.environ["QUILLO_WAYLAND_SCALE"])
    out_w, out_h = (int(v) for v in os.environ["QUILLO_WAYLAND_OUTPUT_SIZE"].split("x"))
    at = (60, 80)
    out = subprocess.run(
        [os.path.join(HERE, "wl-client.py"), "start", *map(str, at)], check=True, capture_output=True, text=True
    ).stdout.split()
    pid, rect = int(out[0]), tuple(int(v) for v in out[1:])
    try:
        if rect[:2] != at:
            fail(f"the client is at {rect[:2]}, expected {at}")
        first = screenshot(os.path.join(scratch, "first.png"))
        time.sleep(0.3)
        second = screenshot(os.path.join(scratch, "second.png"))
    finally:
        subprocess.run([os.path.join(HERE, "wl-client.py"), "stop", str(pid)], check=True)

    if first[:2] != (out_w, out_h):
        fail(f"a screenshot of {first[:2]}, expected the output's {out_w}x{out_h} pixels")
    # The client's rectangle in pixels of the output.
    left, top = round(rect[0] * scale), round(rect[1] * scale)
    right, bottom = round((rect[0] + rect[2]) * scale), round((rect[1] + rect[3]) * scale)
    background = pixel(first, out_w - 20, out_h - 20)
    inside = changed_inside = changed_outside = like_background = 0
    # Every fourth pixel of every fourth row is plenty, and keeps this quick.
    for y in range(0, out_h, 4):
        for x in range(0, out_w, 4):
            now = pixel(first, x, y)
            differs = now != pixel(second, x, y)
            if left <= x < right and top <= y < bottom:
                inside += 1
                changed_inside += differs
                like_background += now == background
            else:
                changed_outside += differs
    print(
        f"client {rect[2]}x{rect[3]} at {rect[:2]} -> pixels {left},{top} to {right},{bottom}: "
        f"{changed_inside} of {inside} sampled pixels changed inside, {changed_outside} outside; "
        f"{like_background} inside look like the background"
    )
    if changed_inside < inside // 20:
        fail("the client's pixels did not change between two screenshots")
    if changed_outside > changed_inside // 10:
        fail("pixels outside the client's rectangle changed: it is not where it was placed")
    if like_background > inside // 2:
        fail("the client's rectangle shows the background")


def check_xdotool(scratch):
    log_path = os.path.join(scratch, "xev.log")
    with open(log_path, "w") as log:
        xev = subprocess.Popen(
            ["xev", "-geometry", "200x150+300+200", "-name", "quillo-helpers-check"],
            stdout=log,
            stderr=subprocess.STDOUT,
            env=desktop.tagged_env(),
        )
    try:
        window = subprocess.run(
            ["xdotool", "search", "--sync", "--onlyvisible", "--name", "^quillo-helpers-check$"],
            check=True,
            capture_output=True,
            text=True,
            timeout=10,
        ).stdout.split()[0]
        subprocess.run(["xdotool", "windowactivate", "--sync", window], check=True, timeout=10)
        subprocess.run(["xdotool", "mousemove", "--window", window, "20", "20", "click", "1"], check=True)
        subprocess.run(["xdotool", "type", "--window", window, "--delay", "30", "ok"], check=True)
        subprocess.run(["xdotool", "type", "--delay", "30", "ok"], check=True)
        time.sleep(0.5)
    finally:
        xev.terminate()
        xev.wait()
    # xev prints an event's name on one line and its keysym on the next.
    clicks, keys, event = 0, "", ""
    for line in open(log_path):
        if " event, serial " in line:
            event = line.split()[0]
            clicks += event == "ButtonPress"
        elif event == "KeyPress" and "keysym 0x" in line:
            keys += line.split("keysym ")[1].split(",")[1].strip(" )")
    print(f"xdotool: {clicks} click(s) and the keys {keys!r} arrived")
    if clicks < 1:
        fail("xdotool's click did not arrive")
    if keys != "okok":
        fail("xdotool's typing did not arrive")


def main():
    print(f"{desktop.name()} at scale {os.environ['QUILLO_WAYLAND_SCALE']}")
    with tempfile.TemporaryDirectory() as scratch:
        check_client(scratch)
        check_xdotool(scratch)
    print("OK")


if __name__ == "__main__":
    main()
