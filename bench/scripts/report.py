#!/usr/bin/env python3
"""Turns one benchmark run into one Markdown table.

Reads what bench/run.sh left in its results folder:
  export.json      export_bench (Google Benchmark JSON)
  capture.json     capture_bench (Google Benchmark JSON)
  recording.jsonl  recording_bench, one JSON object per region size
  recording.time   /usr/bin/time -v of the recording run
  recording-portal.jsonl  the same through the portal of a headless sway desktop
  busy.jsonl       busy_screen_bench, one JSON object per recording (optional)
  editor.json      editor_bench (Google Benchmark JSON)
  store.json       store_bench (Google Benchmark JSON)
and decodes every exported file to compare it with its source frames
(gifquality.py). Every ratio compares two figures of this same run.

  report.py <results-dir> <clips-dir> [--jobs N]
"""

import argparse
import concurrent.futures
import json
import math
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gifquality  # noqa: E402

PATH_LABEL = {"imageIO": "built-in", "ffmpeg": "ffmpeg", "gifski": "gifski"}
QUALITIES = ["low", "medium", "high", "max"]
FORMAT_LABEL = {"webp": "WebP", "apng": "APNG", "webm": "WebM"}
# The editor's size estimate is meant to be within this share of the real size.
ESTIMATE_MARGIN = 0.30
# gifski's own default --quality is 90, which is what "high" passes.
GIFSKI_DEFAULT = "high"


def load_json(path):
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return json.load(f)


def benchmarks(doc):
    """Runs of a Google Benchmark document by name without the run options:
    the median of repeated benchmarks, the single run of the others."""
    out = {}
    for b in (doc or {}).get("benchmarks", []):
        if b.get("error_occurred"):
            continue
        median = b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median"
        if b.get("run_type", "iteration") != "iteration" and not median:
            continue
        name = b.get("run_name", b["name"])
        name = re.sub(r"/(iterations:\d+|real_time|min_time:[0-9.]+|repeats:\d+)", "", name)
        if median or name not in out:
            out[name] = b
    return out


def seconds(b):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b.get("time_unit", "ns")]
    return b["real_time"] * scale


def fmt_time(s):
    if s is None:
        return ""
    if s >= 1:
        return f"{s:.2f} s"
    if s >= 1e-3:
        return f"{s * 1e3:.1f} ms"
    return f"{s * 1e6:.0f} µs"


def fmt_bytes(n):
    if n is None:
        return ""
    if n >= 1e6:
        return f"{n / 1e6:.2f} MB"
    return f"{n / 1e3:.1f} kB"


def cpu_seconds(b):
    """CPU of the export: the benchmark thread plus the tools it ran."""
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b.get("time_unit", "ns")]
    return b["cpu_time"] * scale + b.get("cpu_children_s", 0.0)


def fmt_export_time(b):
    return f"{fmt_time(seconds(b))} (CPU {fmt_time(cpu_seconds(b))})"


def fmt_fidelity(q):
    if not q:
        return ""
    if "resized_to" in q:
        return f"not compared: the file is {q['resized_to']}"
    psnr = "inf" if math.isinf(q["psnr"]) else f"{q['psnr']:.1f}"
    text = f"{q['ssim_mean']:.4f} / {q['ssim_min']:.4f} / {psnr} dB"
    if not q["frames_ok"]:
        text += f" ({q['frames']} frames!)"
    return text


def clip_order(name):
    clip, size = name.split("-")
    order = {"typing": 0, "scrolling": 1, "video": 2}
    return (int(size.split("x")[0]), order.get(clip, 9), clip)


def path_label(key):
    """'GIF gifski high', 'MP4 high', 'WebP high' for a row key."""
    parts = key.split("/")
    if parts[0] == "gif":
        return f"GIF {PATH_LABEL.get(parts[1], parts[1])} {parts[2]}"
    if parts[0] == "anim":
        return f"{FORMAT_LABEL.get(parts[1], parts[1])} {parts[2]}"
    return f"MP4 {parts[1]}"


def measure_file(path, source_dir, frames, webp_frames):
    """gifquality.measure, with animated WebP decoded to PNG frames first."""
    if not path.endswith(".webp"):
        return gifquality.measure(path, source_dir, frames)
    if not webp_frames:
        raise RuntimeError("no webp_frames to decode animated WebP with")
    import subprocess
    import tempfile
    with tempfile.TemporaryDirectory(prefix="quillo-webp-") as tmp:
        run = subprocess.run([webp_frames, path, tmp], capture_output=True, text=True)
        if run.returncode != 0:
            raise RuntimeError(f"webp_frames could not decode {path}: {run.stderr[-300:]}")
        return gifquality.measure(os.path.join(tmp, "frame%05d.png"), source_dir, frames)


def export_rows(results, clips_dir, jobs, checks, webp_frames=None):
    runs = benchmarks(load_json(os.path.join(results, "export.json")))
    by_clip = {}
    for name, b in runs.items():
        parts = name.split("/")
        by_clip.setdefault(parts[0], {})["/".join(parts[1:])] = b

    # Fidelity of every file, two decoders at a time.
    files = {}
    for clip, entries in by_clip.items():
        for key, b in entries.items():
            parts = key.split("/")
            if parts[0] == "gif":
                files[(clip, key)] = os.path.join(results, "files", clip, f"{parts[1]}-{parts[2]}.gif")
            elif parts[0] == "mp4":
                files[(clip, key)] = os.path.join(results, "files", clip, f"mp4-{parts[1]}.mp4")
            elif parts[0] == "anim":
                files[(clip, key)] = os.path.join(results, "files", clip, f"anim-{parts[1]}-{parts[2]}.{parts[1]}")
    fidelity = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = {pool.submit(measure_file, path, os.path.join(clips_dir, k[0]),
                               int(by_clip[k[0]][k[1]].get("frames", 300)), webp_frames): k
                   for k, path in files.items() if os.path.exists(path)}
        for future in concurrent.futures.as_completed(futures):
            try:
                fidelity[futures[future]] = future.result()
            except Exception as error:  # a file ffmpeg cannot read is a finding, not a crash
                print(f"report: {futures[future]}: {error}", file=sys.stderr)

    rows = []
    for clip in sorted(by_clip, key=clip_order):
        entries = by_clip[clip]
        subject = clip.replace("-", " ")
        builtin_key = next((k for k in entries if k.startswith("gif/imageIO/")), None)
        builtin = entries.get(builtin_key) if builtin_key else None
        staging = entries.get("staging")
        baseline = entries.get("staging-qt")
        if baseline:
            rows.append(["export", subject, "staging before: Qt's PNG writer, one frame at a time",
                         fmt_time(seconds(baseline) / baseline["frames"]) + " per frame",
                         f"{fmt_time(seconds(baseline))} for {int(baseline['frames'])}", "", ""])
        if staging:
            per_frame = seconds(staging) / staging["frames"]
            ratio = f"{seconds(baseline) / seconds(staging):.1f}× faster than before" if baseline else ""
            rows.append(["export", subject, "staging: one PNG per frame, every core", fmt_time(per_frame) + " per frame",
                         f"{fmt_time(seconds(staging))} for {int(staging['frames'])}", "", ratio])
        if builtin:
            q = fidelity.get((clip, builtin_key))
            rows.append(["export", subject, "GIF built-in (every quality: one file)", fmt_export_time(builtin),
                         fmt_bytes(builtin["bytes"]), fmt_fidelity(q), ""])
        for path in ("ffmpeg", "gifski"):
            for quality in QUALITIES:
                key = f"gif/{path}/{quality}"
                b = entries.get(key)
                if not b:
                    continue
                q = fidelity.get((clip, key))
                ratio = ""
                if builtin:
                    ratio = (f"built-in: {builtin['bytes'] / b['bytes']:.2f}× size, "
                             f"{seconds(builtin) / seconds(b):.2f}× time")
                rows.append(["export", subject, f"GIF {path} {quality}", fmt_export_time(b), fmt_bytes(b["bytes"]),
                             fmt_fidelity(q), ratio])
        for quality in QUALITIES:
            key = f"mp4/{quality}"
            b = entries.get(key)
            if not b:
                continue
            ratio = f"built-in GIF: {builtin['bytes'] / b['bytes']:.1f}× size" if builtin else ""
            rows.append(["export", subject, f"MP4 {quality}", fmt_export_time(b), fmt_bytes(b["bytes"]),
                         fmt_fidelity(fidelity.get((clip, key))), ratio])
        mp4 = entries.get("mp4/high")
        for fmt in FORMAT_LABEL:
            for quality in QUALITIES:
                key = f"anim/{fmt}/{quality}"
                b = entries.get(key)
                if not b:
                    continue
                ratios = []
                if builtin:
                    ratios.append(f"built-in GIF: {builtin['bytes'] / b['bytes']:.1f}× size")
                if mp4:
                    ratios.append(f"MP4 high: {mp4['bytes'] / b['bytes']:.2f}× size")
                rows.append(["export", subject, path_label(key), fmt_export_time(b), fmt_bytes(b["bytes"]),
                             fmt_fidelity(fidelity.get((clip, key))), ", ".join(ratios)])
        for key in sorted(k for k in entries if k.startswith("estimate/")):
            b = entries[key]
            real = entries.get(key[len("estimate/"):])
            estimate = b.get("estimate_bytes")
            if estimate is None:
                continue
            ratio = ""
            if real and real.get("bytes"):
                share = estimate / real["bytes"]
                ratio = f"real {fmt_bytes(real['bytes'])}: {share:.2f}×"
                ok = abs(share - 1) <= ESTIMATE_MARGIN
                checks.append(f"{'PASS' if ok else 'FAIL'} {clip}: size estimate of {path_label(key[9:])} "
                              f"{fmt_bytes(estimate)} vs real {fmt_bytes(real['bytes'])} ({share:.2f}×, "
                              f"goal within ±{ESTIMATE_MARGIN:.0%})")
            rows.append(["export", subject, f"size estimate: {path_label(key[9:])}", fmt_time(seconds(b)),
                         fmt_bytes(estimate), "", ratio])

        # The targets: smaller than ffmpeg at high with SSIM at most 0.005
        # lower; at least twice as fast as gifski at its default quality.
        ff = entries.get("gif/ffmpeg/high")
        gs = entries.get(f"gif/gifski/{GIFSKI_DEFAULT}")
        if builtin and ff and clip.split("-")[0] in ("typing", "scrolling"):
            bq, fq = fidelity.get((clip, builtin_key)), fidelity.get((clip, "gif/ffmpeg/high"))
            if bq and fq and "resized_to" not in bq and "resized_to" not in fq:
                ok = builtin["bytes"] < ff["bytes"] and bq["ssim_mean"] >= fq["ssim_mean"] - 0.005
                checks.append(f"{'PASS' if ok else 'FAIL'} {clip}: built-in {fmt_bytes(builtin['bytes'])} vs ffmpeg "
                              f"high {fmt_bytes(ff['bytes'])} ({builtin['bytes'] / ff['bytes']:.2f}×), mean SSIM "
                              f"{bq['ssim_mean']:.4f} vs {fq['ssim_mean']:.4f} "
                              f"({bq['ssim_mean'] - fq['ssim_mean']:+.4f}, floor -0.005)")
        if builtin and gs:
            speedup = seconds(gs) / seconds(builtin)
            checks.append(f"{'PASS' if speedup >= 2 else 'FAIL'} {clip}: built-in {speedup:.1f}× faster than gifski "
                          f"at its default quality ({fmt_time(seconds(builtin))} vs {fmt_time(seconds(gs))})")
    return rows


def capture_rows(results, memory):
    """Capture rows; the memory per kept frame goes to `memory`."""
    runs = benchmarks(load_json(os.path.join(results, "capture.json")))
    rows = []
    labels = [("BM_X11Frame_NoExclusion", "X11 frame: grab (+ cursor, compare)"),
              ("BM_X11Frame_OneExcludedWindow", "X11 frame: grab + one excluded window composed out"),
              ("BM_ConvertBgrx", "conversion BGRX → frame format"),
              ("BM_PortalFrame", "portal frame: region out of a PipeWire buffer (+ compare)"),
              ("BM_Memcpy", "memcpy of the same bytes")]
    for width, height in ((640, 420), (1280, 840)):
        copy = runs.get(f"BM_Memcpy/{width}")
        for name, label in labels:
            b = runs.get(f"{name}/{width}")
            if not b:
                continue
            ratio = (f"{seconds(b) / seconds(copy):.1f}× memcpy (CPU {cpu_seconds(b) / cpu_seconds(copy):.1f}×)"
                     if copy and name != "BM_Memcpy" else "")
            rows.append(["capture", f"{width}x{height}", label,
                         f"{fmt_time(seconds(b))} per frame (CPU {fmt_time(cpu_seconds(b))})",
                         f"{1 / seconds(b):.0f} frames/s max", "", ratio])
    # X11 on Xvfb, then the portal of a headless sway desktop, whose own
    # processes (compositor, portal, PipeWire) are not counted.
    for name, prefix in (("recording.jsonl", ""), ("recording-portal.jsonl", "portal (sway): ")):
        path = os.path.join(results, name)
        if not os.path.exists(path):
            continue
        with open(path) as f:
            for line in f:
                if not line.strip():
                    continue
                r = json.loads(line)
                kept = "frame store, " if r.get("store") else ""
                rows.append(["capture", r["size"], f"{prefix}{kept}recording, {r['requested_fps']} fps requested, "
                             f"{r['seconds']:.1f} s", "", f"{r['fps']:.1f} frames/s kept ({int(r['frames'])})",
                             "", f"{r['fps'] / r['requested_fps'] * 100:.0f}% of requested"])
                server = r.get("x_server_cpu_per_second", -1) if not prefix else -1
                rows.append(["capture", r["size"], f"{prefix}{kept}CPU per second of recording", "",
                             f"{r['cpu_per_second']:.3f} CPU s/s" +
                             (f" (+ {server:.3f} in the X server)" if server >= 0 else ""), "", ""])
                if prefix:
                    continue
                memory.append(["editing", r["size"], f"{kept}memory per kept frame (resident growth / frames)", "",
                             fmt_bytes(r["rss_per_frame_bytes"]), "",
                             f"{r['rss_per_frame_bytes'] / r['frame_bytes']:.2f}× the frame's pixel bytes"])
    time_path = os.path.join(results, "recording.time")
    if os.path.exists(time_path):
        with open(time_path) as f:
            text = f.read()
        m = re.search(r"Maximum resident set size \(kbytes\): (\d+)", text)
        if m:
            rows.append(["capture", "both sizes", "recording run, peak resident set (/usr/bin/time -v)", "",
                         fmt_bytes(int(m.group(1)) * 1024), "", ""])
    return rows


BUSY_GOAL = 0.95


def busy_reference(r):
    """What Quillo could have kept per second: the distinct frames ffmpeg saw
    in the same run, up to the requested rate."""
    ffmpeg = r["ffmpeg_distinct"] / r["ffmpeg_seconds"] if r.get("ffmpeg_seconds") else 0.0
    return min(ffmpeg, float(r["requested_fps"])), ffmpeg


def busy_rows(results, checks):
    """The busy-screen recordings; with several runs of a case, the one with
    the median share is shown and the spread noted."""
    path = os.path.join(results, "busy.jsonl")
    if not os.path.exists(path):
        return []
    cases = {}
    with open(path) as f:
        for line in f:
            if line.strip():
                r = json.loads(line)
                key = (r["clients"], tuple(int(v) for v in r["size"].split("x")), r["requested_fps"])
                cases.setdefault(key, []).append(r)
    rows = []
    for key in sorted(cases):
        clients, (width, height), fps = key

        def share(r):
            reference, _ = busy_reference(r)
            return r["kept_per_second"] / reference if reference > 0 else 0.0

        runs = sorted(cases[key], key=share)
        r = runs[len(runs) // 2]
        reference, ffmpeg = busy_reference(r)
        shares = [share(x) for x in runs]
        spread = f" (runs: {', '.join(f'{x * 100:.0f} %' for x in shares)})" if len(runs) > 1 else ""
        trips = r.get("round_trips_per_sample")
        waits = (f"; {trips:.2f} round trips, {r['blocked_ms_per_sample']:.2f} ms waiting per tick"
                 if trips is not None else "")
        case = f"busy screen: {clients} ico, {fps} fps requested, {r['seconds']:.0f} s"
        rows.append(["capture", f"{width}x{height}", case, "",
                     f"{r['kept_per_second']:.1f} frames/s kept; ffmpeg {ffmpeg:.1f} distinct/s",
                     "", f"{share(r) * 100:.0f} % of ffmpeg's (up to the rate){spread}{waits}; load {r['load']:.1f}"])
        verdict = "PASS" if share(r) >= BUSY_GOAL else "FAIL"
        checks.append(f"{verdict} busy {clients} ico {width}x{height} {fps} fps: {r['kept_per_second']:.1f} frames/s "
                      f"kept of {reference:.1f} ({share(r) * 100:.0f} %, goal ≥ {BUSY_GOAL * 100:.0f} %)")
    return rows


def editor_rows(results):
    runs = benchmarks(load_json(os.path.join(results, "editor.json")))
    labels = {"BM_Reverse": "reverse", "BM_DeleteHalf": "delete half the frames", "BM_SpeedChange": "speed change",
              "BM_Undo": "undo of a delay change", "BM_CropAll": "crop every frame",
              "BM_ResizeAll": "resize every frame to 320 x 210"}
    return [["editing", "3,000 frames 640x420", label, fmt_time(seconds(runs[name])), "", "", ""]
            for name, label in labels.items() if name in runs]


# The frame store's goals: resident memory per kept frame as a share of the
# frame's pixel bytes, and reading one full-HD frame back.
STORE_MEMORY_GOALS = {"typing": 0.02, "scrolling": 0.10}
STORE_MEMORY_CEILING = 0.60
STORE_DECODE_GOAL_S = 0.010


def fmt_share(ratio):
    return f"{ratio * 100:.2f} %" if ratio < 0.1 else f"{ratio * 100:.1f} %"


def store_rows(results, checks):
    runs = benchmarks(load_json(os.path.join(results, "store.json")))
    rows = []
    clips = sorted((name.split("/", 1)[1] for name in runs if name.startswith("BM_StoreClip/")), key=clip_order)
    for clip in clips:
        b = runs[f"BM_StoreClip/{clip}"]
        kind, size = clip.split("-")
        width, height = size.split("x")
        subject = clip.replace("-", " ")
        raw = b["raw_bytes"]
        copy = runs.get(f"BM_Memcpy/{width}/{height}")
        def vs_copy(s):
            return f"{s / seconds(copy):.1f}× memcpy" if copy else ""
        rss, disk = b["rss_ratio"], b["disk_ratio"]
        goal = STORE_MEMORY_GOALS.get(kind, STORE_MEMORY_CEILING)
        rows.append(["store", subject, "resident memory per kept frame (growth / frames)", "",
                     fmt_bytes(rss * raw), "", f"{fmt_share(rss)} of the pixel bytes (goal ≤ {fmt_share(goal)})"])
        rows.append(["store", subject, "stored on disk per frame", "", fmt_bytes(disk * raw), "",
                     f"{fmt_share(disk)} of the pixel bytes; {int(b['key_frames'])} key frames of {int(b['frames'])}"])
        rows.append(["store", subject, "append on the caller's thread (median)",
                     fmt_time(b["append_median_s"]) + " per frame", "", "", vs_copy(b["append_median_s"])])
        rows.append(["store", subject, "compress + write, CPU per frame (all threads)",
                     fmt_time(b["write_cpu_per_frame_s"]) + " per frame",
                     f"{1 / b['write_wall_per_frame_s']:.0f} frames/s written", "", vs_copy(b["write_cpu_per_frame_s"])])
        cpu = b.get("decode_random_cpu_s")
        rows.append(["store", subject, "read one frame, nothing cached (mean / worst of 60)",
                     f"{fmt_time(b['decode_random_mean_s'])} / {fmt_time(b['decode_random_worst_s'])}"
                     + (f" (CPU {fmt_time(cpu)} mean)" if cpu else ""), "", "", ""])
        rows.append(["store", subject, "read every frame in order (decoded cache)",
                     fmt_time(b["decode_playing_s"]) + " per frame", "", "", ""])
        ok = rss <= goal and rss <= STORE_MEMORY_CEILING
        checks.append(f"{'PASS' if ok else 'FAIL'} store {clip}: resident {fmt_share(rss)} per kept frame "
                      f"(goal ≤ {fmt_share(goal)}), {fmt_share(disk)} on disk")
        if size == "1920x1080":
            mean = b["decode_random_mean_s"]
            cpu_text = f", CPU {fmt_time(cpu)}" if cpu else ""
            checks.append(f"{'PASS' if mean < STORE_DECODE_GOAL_S else 'FAIL'} store {clip}: one frame read in "
                          f"{fmt_time(mean)}{cpu_text} on average with nothing cached (goal < 10 ms)")
    for name, b in sorted(runs.items()):
        if name.startswith("BM_Memcpy/"):
            _, width, height = name.split("/")
            rows.append(["store", f"{width}x{height}", "memcpy of one frame", fmt_time(seconds(b)), "", "", ""])
    for op, label in (("crop", "crop every frame"), ("resize", "resize every frame to 320 x 210")):
        b = runs.get(f"BM_TransformAll/{op}")
        if b:
            rows.append(["store", "3,000 frames 640x420", f"{label}, new frames through the store",
                         fmt_time(seconds(b)), "", "", ""])
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("results")
    parser.add_argument("clips")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--webp-frames", help="webp_frames, to measure animated WebP files")
    args = parser.parse_args()

    checks = []
    memory = []
    rows = export_rows(args.results, args.clips, args.jobs, checks, args.webp_frames)
    rows += capture_rows(args.results, memory)
    rows += busy_rows(args.results, checks)
    rows += memory + editor_rows(args.results) + store_rows(args.results, checks)
    header = ["Area", "Subject", "Case", "Time", "Result", "SSIM mean / worst / PSNR", "Ratio (same run)"]
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    print("\n".join(lines))
    if checks:
        print()
        for check in checks:
            print(f"- {check}")


if __name__ == "__main__":
    main()
