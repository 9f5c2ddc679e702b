"""Frames of a PipeWire video stream, read through GStreamer, for the helpers of
the headless test desktops (the program reads streams with libpipewire itself)."""

import hashlib
import time

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, GLib, Gst  # noqa: E402

Gst.init(None)


class Frames:
    """What arrived from a stream: arrival times, pixel sizes, how many frames
    differed from the one before, and the last frame (RGB)."""

    def __init__(self):
        self.times = []
        self.size = None
        self.changed = 0
        self.last = None
        self._last_digest = None

    def fps(self):
        if len(self.times) < 2:
            return 0.0
        return (len(self.times) - 1) / (self.times[-1] - self.times[0])

    def save_png(self, path):
        data, width, height, stride = self.last
        pixbuf = GdkPixbuf.Pixbuf.new_from_bytes(
            GLib.Bytes.new(data), GdkPixbuf.Colorspace.RGB, False, 8, width, height, stride
        )
        pixbuf.savev(path, "png", [], [])


def read_frames(node, fd=None, seconds=2.0, first_timeout=10.0, max_frames=None, min_frames=0, limit=20.0):
    """Reads the stream of PipeWire node `node` (through the remote `fd` when
    given, else the default PipeWire of $XDG_RUNTIME_DIR) for `seconds` after
    its first frame, and longer, up to `limit` seconds, until `min_frames`
    arrived (a busy machine slows a software-rendered desktop down); or
    until `max_frames` arrived."""
    source = f"pipewiresrc path={node}" + (f" fd={fd}" if fd is not None else "")
    pipeline = Gst.parse_launch(
        f"{source} ! videoconvert ! video/x-raw,format=RGB "
        "! appsink name=sink emit-signals=true sync=false max-buffers=4"
    )
    frames = Frames()
    loop = GLib.MainLoop()
    errors = []
    timers = {}

    def after(seconds_, callback):
        def fire(key):
            del timers[key]
            callback()
            return False

        key = object()
        timers[key] = GLib.timeout_add(int(seconds_ * 1000), fire, key)

    def on_sample(sink):
        sample = sink.emit("pull-sample")
        structure = sample.get_caps().get_structure(0)
        width, height = structure.get_value("width"), structure.get_value("height")
        buffer = sample.get_buffer()
        ok, info = buffer.map(Gst.MapFlags.READ)
        if ok:
            data = bytes(info.data)
            buffer.unmap(info)
            digest = hashlib.blake2b(data, digest_size=16).digest()
            if frames._last_digest is not None and digest != frames._last_digest:
                frames.changed += 1
            frames._last_digest = digest
            frames.last = (data, width, height, len(data) // height)
        frames.times.append(time.monotonic())
        frames.size = (width, height)
        if enough():
            GLib.idle_add(loop.quit)
        elif len(frames.times) == 1:
            after(seconds, lambda: enough() and loop.quit())
        return Gst.FlowReturn.OK

    def enough():
        count = len(frames.times)
        if max_frames is not None and count >= max_frames:
            return True
        return count >= max(min_frames, 1) and frames.times[-1] - frames.times[0] >= seconds

    def on_message(_bus, message):
        if message.type == Gst.MessageType.ERROR:
            errors.append(message.parse_error()[0].message)
            loop.quit()

    pipeline.get_by_name("sink").connect("new-sample", on_sample)
    bus = pipeline.get_bus()
    bus.add_signal_watch()
    bus.connect("message", on_message)

    def first_frame_due():
        if not frames.times:
            errors.append(f"no frame within {first_timeout} s")
            loop.quit()

    after(first_timeout, first_frame_due)
    after(limit, loop.quit)
    started = time.monotonic()
    pipeline.set_state(Gst.State.PLAYING)
    loop.run()
    pipeline.set_state(Gst.State.NULL)
    bus.remove_signal_watch()
    for timer in timers.values():
        GLib.source_remove(timer)
    frames.first_after = frames.times[0] - started if frames.times else None
    if errors:
        raise RuntimeError(f"stream {node}: {errors[0]}")
    return frames
