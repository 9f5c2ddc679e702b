#include "capture/x11/X11CaptureBackend.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

// The grab thread's clock: where the next tick falls when the thread wakes
// (on time, or late because a grab or the machine was slow).
TEST(X11CaptureClock, TicksKeepToTheirGrid_WhenAGrabRunsLate)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start {};
    const Clock::duration interval = 10ms;
    struct Case {
        const char *what;
        Clock::duration due, now, next;
    };
    const Case cases[] = {
        {"woken on time", 30ms, 30ms, 40ms},
        {"woken a little late: the next tick stays where it was", 30ms, 34ms, 40ms},
        {"late by exactly a tick: that tick is due at once, then the grid goes on", 30ms, 40ms, 50ms},
        {"late by several ticks: the missed ones are dropped", 30ms, 67ms, 70ms},
        {"late by a long stall", 30ms, 30ms + 1000 * interval + 1ms, 30ms + 1001 * interval},
    };
    for (const Case &k : cases) {
        const Clock::time_point next = X11CaptureStream::nextTick(start + k.due, start + k.now, interval);
        EXPECT_EQ((next - start) / 1us, k.next / 1us) << k.what;
    }
    // A grab due at 30 ms that ends at 47 ms: the tick at 40 ms is lost, the
    // ones after stay on the grid.
    Clock::time_point due = start;
    const Clock::duration wakes[] = {0ms, 10ms, 20ms, 47ms, 50ms};
    std::vector<long> ticks;
    for (const Clock::duration &woken : wakes) {
        due = X11CaptureStream::nextTick(due, start + woken, interval);
        ticks.push_back(long((due - start) / 1ms));
    }
    EXPECT_EQ(ticks, (std::vector<long> {10, 20, 30, 50, 60}));
}
