#!/usr/bin/env bash
# Builds the benchmarks in Release, runs every one of them and prints one
# table (also written to <results>/table.md). See bench/README.md.
#
#   bench/run.sh            the default run (about 16 minutes on 2 cores; the frame store takes 5,
#                           the busy-screen recordings 3)
#   bench/run.sh --quick    the 640 x 420 clips at quality high only
#   bench/run.sh --full     every clip at every quality at both sizes (an hour or more)
#
# Environment: QUILLO_BENCH_BUILD (build folder, default build-bench),
# QUILLO_BENCH_OUT (results, default <build>/bench-results), JOBS (parallel
# compile and compare jobs, default 2), BUSY_REPEATS (runs of each busy-screen
# recording, default 1).
set -euo pipefail

mode=default
case "${1:-}" in
"") ;;
--quick) mode=quick ;;
--full) mode=full ;;
*)
    echo "usage: bench/run.sh [--quick|--full]" >&2
    exit 2
    ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLO_BENCH_BUILD:-$root/build-bench}
jobs=${JOBS:-2}
out=${QUILLO_BENCH_OUT:-$build/bench-results}
clips=$build/bench-clips
bin=$build/bench
for tool in ffmpeg gifski xvfb-run python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || {
        echo "bench/run.sh: $tool is needed" >&2
        exit 1
    }
done

step() { printf '\n== %s (%s)\n' "$1" "$(date -u +%H:%M:%S)" >&2; }

step "Release build in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$jobs" --target clip_generator export_bench capture_bench recording_bench busy_screen_bench quillo_xcb_waits \
    editor_bench store_bench \
    >/dev/null
# The WebP files' fidelity needs libwebp's demuxer (libwebp-dev); without it
# their SSIM column stays empty.
cmake --build "$build" -j "$jobs" --target webp_frames >/dev/null 2>&1 || true

case $mode in
quick) needed="typing-640x420 scrolling-640x420 video-640x420" ;;
default) needed="typing-640x420 scrolling-640x420 video-640x420 typing-1280x840 scrolling-1280x840" ;;
full) needed="typing-640x420 scrolling-640x420 video-640x420 typing-1280x840 scrolling-1280x840 video-1280x840" ;;
esac

# The clips are drawn anew only when the generator changed: they are the same
# pixels every time.
step "Test clips in $clips"
stamp=$clips/.generator
if [ ! -f "$stamp" ] || ! cmp -s "$stamp" <(sha1sum <"$bin/export/clip_generator"); then
    rm -rf "$clips"
    mkdir -p "$clips"
    sha1sum <"$bin/export/clip_generator" >"$stamp"
fi
for clip in $needed; do
    if [ ! -f "$clips/$clip/fps.txt" ]; then
        size=${clip#*-}
        "$bin/export/clip_generator" "$clips" "${size%x*}" "${size#*x}" "${clip%-*}" >&2
    fi
done

rm -rf "$out"
mkdir -p "$out/files"
part=0
export_run() { # <clips> <qualities>
    part=$((part + 1))
    "$bin/export/export_bench" --clips="$clips" --out="$out/files" --clip="$1" --qualities="$2" --estimates=high \
        --benchmark_out="$out/export-$part.json" --benchmark_out_format=json >&2
}
# Noisy video is by far the slowest material for the external encoders (about
# a minute per export at 640 x 420), so the default run takes it at the
# quality the targets are about, and at the small size only.
step "Export paths"
case $mode in
quick) export_run typing-640x420,scrolling-640x420,video-640x420 high ;;
default)
    export_run typing-640x420,scrolling-640x420 low,medium,high,max
    export_run typing-1280x840,scrolling-1280x840 high
    export_run video-640x420 high
    ;;
full)
    export_run typing-640x420,scrolling-640x420,video-640x420 low,medium,high,max
    export_run typing-1280x840,scrolling-1280x840,video-1280x840 low,medium,high,max
    ;;
esac
# One document for the report.
python3 - "$out" <<'EOF'
import glob, json, os, sys
out = sys.argv[1]
merged = {"benchmarks": []}
for path in sorted(glob.glob(os.path.join(out, "export-*.json"))):
    with open(path) as f:
        doc = json.load(f)
    merged.setdefault("context", doc.get("context"))
    merged["benchmarks"] += doc["benchmarks"]
with open(os.path.join(out, "export.json"), "w") as f:
    json.dump(merged, f)
EOF

screen=(-s "-screen 0 1280x1024x24")
step "Capture: per-frame cost on Xvfb"
xvfb-run -a "${screen[@]}" "$bin/capture/capture_bench" --benchmark_out="$out/capture.json" \
    --benchmark_out_format=json >&2
step "Capture: recordings at 60 fps requested"
xvfb-run -a "${screen[@]}" /usr/bin/time -v -o "$out/recording.time" "$bin/capture/recording_bench" 5 \
    >"$out/recording.jsonl" 2>"$out/recording.log"

# The same recordings through the ScreenCast portal of a headless sway desktop
# (tests/wayland; the scene's windows show through XWayland), for the rows
# next to X11's. The compositor, portal and PipeWire do the screen copy there.
if [ -x /usr/local/libexec/quillo-test/xdg-desktop-portal-wlr ] && command -v sway >/dev/null; then
    step "Capture: recordings through the portal of a headless sway desktop"
    desktop=$out/sway
    "$root/tests/wayland/start-desktop.sh" sway --size 1920x1080 "$desktop" >&2
    QUILLO_CAPTURE_BACKEND=portal QT_QPA_PLATFORM=xcb "$root/tests/wayland/run-in.sh" "$desktop" \
        "$bin/capture/recording_bench" 5 >"$out/recording-portal.jsonl" 2>"$out/recording-portal.log" ||
        echo "the portal recordings failed: see $out/recording-portal.log" >&2
    "$root/tests/wayland/stop-desktop.sh" "$desktop"
else
    echo "no headless sway desktop (scripts/install-deps.sh installs it): the portal rows are left out" >&2
fi

# The X server kept busy by ico clients under the region, with ffmpeg grabbing
# the same area alongside: 12 recordings of 10 s (BUSY_REPEATS times).
step "Capture: recordings on a busy screen, next to ffmpeg's x11grab"
xvfb-run -a -s "-screen 0 1600x1200x24" "$root/bench/scripts/busy_screen.sh" "$bin/capture" 10 \
    "${BUSY_REPEATS:-1}" >"$out/busy.jsonl" 2>"$out/busy.log"

step "Editing: 3,000-frame operations"
QT_QPA_PLATFORM=offscreen "$bin/editor/editor_bench" --benchmark_out="$out/editor.json" \
    --benchmark_out_format=json >&2

step "Frame store: memory, writes and reads on the clips at 1280 x 840 and 1920 x 1080"
QT_QPA_PLATFORM=offscreen "$bin/store/store_bench" --benchmark_out="$out/store.json" --benchmark_out_format=json >&2

step "Decoding every file and comparing it with its source frames"
{
    echo "Run: $(date -u '+%Y-%m-%d %H:%M UTC'), mode $mode, commit $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
    echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores," \
        "$(free -g | awk '/^Mem:/ {print $2}') GB RAM, $(uname -sr); ffmpeg $(ffmpeg -version | awk 'NR==1 {print $3}')," \
        "$(gifski --version); load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
    echo
    webp=()
    if [ -x "$bin/export/webp_frames" ]; then webp=(--webp-frames "$bin/export/webp_frames"); fi
    python3 "$root/bench/scripts/report.py" "$out" "$clips" --jobs "$jobs" "${webp[@]}"
} >"$out/table.md"
cat "$out/table.md"
