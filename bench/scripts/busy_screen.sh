#!/usr/bin/env bash
# The busy-screen recordings: run on an X display of at least 1600 x 1200 with
# nothing on it (bench/run.sh gives it a fresh Xvfb). Starts openbox, then for
# one and three ico clients, both region sizes and 15, 30 and 60 fps records
# with busy_screen_bench (ffmpeg grabbing alongside) and prints one JSON line
# per recording.
#
#   busy_screen.sh <bench-bin-dir> [seconds] [repeats]
set -euo pipefail
bin=$1
seconds=${2:-10}
repeats=${3:-1}
command -v ico >/dev/null || {
    echo "busy_screen.sh: ico is needed (x11-apps)" >&2
    exit 1
}
openbox >/dev/null 2>&1 &
wm=$!
trap 'kill $wm 2>/dev/null; wait $wm 2>/dev/null || true' EXIT
sleep 1
preload=
[ -f "$bin/libquillo_xcb_waits.so" ] && preload=$bin/libquillo_xcb_waits.so
for ((run = 1; run <= repeats; run++)); do
    for clients in 1 3; do
        for size in 640x420 1280x840; do
            for fps in 15 30 60; do
                echo "busy screen: run $run, $clients ico, $size, $fps fps" >&2
                LD_PRELOAD=$preload "$bin/busy_screen_bench" --clients="$clients" --fps="$fps" --size="$size" \
                    --seconds="$seconds" 2>/dev/null || echo "busy_screen.sh: $clients ico $size $fps fps failed" >&2
            done
        done
    done
done
