#pragma once

#include <QRect>

#include <xcb/xcb.h>

#include <sys/types.h>

#include <functional>

// Pieces the capture benchmarks share.
namespace BenchSupport {

// CPU seconds this process has used (`who` as for getrusage).
double cpuSeconds(int who = 0);
// The X server of $DISPLAY when it is an Xvfb of this machine: its process
// id, or 0. Its CPU is part of every grab (it copies the screen for us).
pid_t xServerPid();
// CPU seconds a process has used so far; 0 when it cannot be read.
double processCpuSeconds(pid_t pid);
// The one-minute load average of the machine.
double loadAverage();
// Runs the event loop until `done` holds, looking every 5 ms. The loop sleeps
// in between, as the program's own does, so CPU figures are the recording's
// and not a polling loop's.
bool spinUntil(const std::function<bool()> &done, int timeoutMs);
// A mapped override-redirect window filled with `pixel`.
xcb_window_t createWindow(xcb_connection_t *c, xcb_window_t root, const QRect &rect, uint32_t pixel);

} // namespace BenchSupport
