"""Decoded-GIF fidelity: SSIM and PSNR of every frame of an encoded file
against the source PNG frames, compared by index (a GIF's own timing is
ignored), through ffmpeg's ssim and psnr filters."""

import math
import os
import re
import subprocess
import tempfile

# Both sides go through the same conversion; 4:4:4 keeps the chroma of small
# coloured text, which a 4:2:0 comparison would blur away on both sides.
_FORMAT = "format=yuv444p"


def parse_ssim(text):
    """Per-frame 'All' values of an ssim stats file."""
    return [float(m.group(1)) for m in re.finditer(r"All:([0-9.]+)", text)]


def parse_psnr_mse(text):
    """Per-frame mean squared errors of a psnr stats file."""
    return [float(m.group(1)) for m in re.finditer(r"mse_avg:([0-9.eE+-]+)", text)]


def psnr_of_mse(mses):
    """PSNR in dB of the mean error over all frames; inf when identical."""
    if not mses:
        return float("nan")
    mean = sum(mses) / len(mses)
    return float("inf") if mean <= 0 else 10 * math.log10(255 * 255 / mean)


def summarise(ssims, mses, expected_frames):
    if not ssims:
        return {"frames": 0, "ssim_mean": float("nan"), "ssim_min": float("nan"), "psnr": float("nan"),
                "frames_ok": False}
    return {
        "frames": len(ssims),
        "ssim_mean": sum(ssims) / len(ssims),
        "ssim_min": min(ssims),
        "psnr": psnr_of_mse(mses),
        "frames_ok": len(ssims) == expected_frames,
    }


def picture_size(path, ffprobe="ffprobe"):
    """'WxH' of the first video stream of a file."""
    run = subprocess.run([ffprobe, "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=width,height",
                          "-of", "csv=p=0:s=x", path], capture_output=True, text=True)
    size = run.stdout.strip()
    if run.returncode != 0 or "x" not in size or size.startswith("0x") or size.endswith("x0"):
        raise RuntimeError(f"ffprobe could not read {path}: {run.stderr[-300:]}")
    return size


def measure(encoded, source_dir, expected_frames, ffmpeg="ffmpeg"):
    """Compares `encoded` (GIF or video) with source_dir/frame%05d.png. A file
    of another picture size is not compared: the result then holds only
    'resized_to' (its 'WxH')."""
    size = picture_size(encoded)
    if size != picture_size(os.path.join(source_dir, "frame00000.png")):
        return {"resized_to": size}
    with tempfile.TemporaryDirectory(prefix="quillo-ssim-") as tmp:
        ssim_file = os.path.join(tmp, "ssim.txt")
        psnr_file = os.path.join(tmp, "psnr.txt")
        # Renumbered timestamps pair frame n with frame n. They are set in one
        # time base on both sides: n / 25 s in a video's 1/15360 base is not a
        # whole number, and a rounded-down time pairs with the frame before.
        # shortest=1 stops at the end of the shorter input instead of
        # repeating its last frame, so a dropped frame shows up as a short count.
        graph = (f"[0:v]settb=1/25,setpts=N,{_FORMAT},split[a1][a2];"
                 f"[1:v]settb=1/25,setpts=N,{_FORMAT},split[b1][b2];"
                 f"[a1][b1]ssim=stats_file={ssim_file}:shortest=1[s];"
                 f"[a2][b2]psnr=stats_file={psnr_file}:shortest=1[p]")
        cmd = [ffmpeg, "-v", "error", "-nostdin", "-i", encoded, "-framerate", "25", "-start_number", "0",
               "-i", os.path.join(source_dir, "frame%05d.png"), "-filter_complex", graph,
               "-map", "[s]", "-map", "[p]", "-fps_mode", "passthrough", "-f", "null", "-"]
        # The null muxer's complaints about repeated timestamps are noise here.
        run = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if run.returncode != 0:
            raise RuntimeError(f"ffmpeg could not compare {encoded}: {run.stderr[-300:]}")
        with open(ssim_file) as f:
            ssims = parse_ssim(f.read())
        with open(psnr_file) as f:
            mses = parse_psnr_mse(f.read())
    return summarise(ssims, mses, expected_frames)


if __name__ == "__main__":
    import sys
    print(measure(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 300))
