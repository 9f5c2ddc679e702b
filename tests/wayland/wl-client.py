#!/usr/bin/python3
"""An animating Wayland client (weston-simple-shm or weston-presentation-shm,
250 x 250, SHM buffers) placed where a
test needs it, in the desktop the environment points at (see run-in.sh).

    wl-client.py start X Y     starts one at logical X, Y; prints "PID X Y W H"
    wl-client.py place PID X Y moves it; prints "PID X Y W H"
    wl-client.py stop PID      ends it

X, Y, W, H are where the window's pixels lie, in the compositor's logical
coordinates (those of the portal's stream position and XWayland's root).
stop-desktop.sh also ends clients a test left behind."""

import json
import os
import subprocess
import sys
import time

import desktop

# weston-simple-shm aborts on sway 1.7, which keeps both of its buffers while
# it waits for the window's first resize; weston-presentation-shm, which
# keeps many buffers, dies on mutter's newer xdg-shell instead.
CLIENTS = {"sway": "weston-presentation-shm", "gnome": "weston-simple-shm"}


def sway_rect(pid):
    tree = json.loads(subprocess.run(["swaymsg", "-t", "get_tree"], check=True, capture_output=True).stdout)
    stack = [tree]
    while stack:
        node = stack.pop()
        if node.get("pid") == pid:
            r = node["rect"]
            return r["x"], r["y"], r["width"], r["height"]
        stack += node.get("nodes", []) + node.get("floating_nodes", [])
    return None


def gnome_window(pid, move_to=None):
    """The window of `pid` (moved first when asked), as (x, y, w, h), or None."""
    move = f"w.move_frame(true, {move_to[0]}, {move_to[1]});" if move_to else ""
    result = desktop.shell_eval(
        f"""(() => {{
            const w = global.get_window_actors().map(a => a.meta_window)
                .find(w => w.get_pid() === {pid});
            if (!w) return null;
            {move}
            w.activate(global.get_current_time());
            const r = w.get_frame_rect();
            return [r.x, r.y, r.width, r.height];
        }})()"""
    )
    return tuple(result) if result else None


def rect_of(pid, move_to=None):
    if desktop.name() == "sway":
        if move_to:
            subprocess.run(
                ["swaymsg", f"[pid={pid}] floating enable, move absolute position {move_to[0]} {move_to[1]}"],
                check=True,
                capture_output=True,
            )
        return sway_rect(pid)
    return gnome_window(pid, move_to)


def wait_placed(pid, x, y, timeout=10.0):
    """Places the window once it exists and returns its rectangle when it is
    where it was asked to be."""
    deadline = time.monotonic() + timeout
    rect = None
    while time.monotonic() < deadline:
        rect = rect_of(pid)
        if rect:
            rect = rect_of(pid, (x, y))
            if rect and rect[:2] == (x, y):
                # Let the compositor draw the window at its new place.
                time.sleep(0.1)
                return rect
        time.sleep(0.05)
    sys.exit(f"wl-client: the window of {pid} is at {rect}, not at {x}, {y}, after {timeout} s")


def main():
    args = sys.argv[1:]
    if args[:1] == ["start"] and len(args) == 3:
        x, y = int(args[1]), int(args[2])
        log = open(os.path.join(os.environ["QUILLO_WAYLAND_DIR"], "log", "clients.log"), "ab")
        client = subprocess.Popen(
            [CLIENTS[desktop.name()]],
            stdin=subprocess.DEVNULL,
            # weston-presentation-shm reports every frame there
            stdout=subprocess.DEVNULL,
            stderr=log,
            env=desktop.tagged_env(),
            start_new_session=True,
        )
        rect = wait_placed(client.pid, x, y)
        print(client.pid, *rect)
    elif args[:1] == ["place"] and len(args) == 4:
        pid, x, y = (int(a) for a in args[1:])
        print(pid, *wait_placed(pid, x, y))
    elif args[:1] == ["stop"] and len(args) == 2:
        desktop.end_process(int(args[1]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
