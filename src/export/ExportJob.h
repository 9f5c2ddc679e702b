#pragma once

#include <atomic>
#include <functional>

// The caller's handle on one running export: it may cancel it from any
// thread, and hears of its progress. Outlives the export call it is passed to.
class ExportJob {
public:
    // Asks the export to stop: its tools are stopped within about a second,
    // partial output is removed and the destination is left as it was; the
    // export then returns the "Export cancelled." failure. Any thread.
    void cancel() { m_cancelled.store(true); }
    bool isCancelled() const { return m_cancelled.load(); }

    // The share of the work done, 0 to 1, rising, at most once per percent.
    // Called on the export's thread and, while frames are staged, on the
    // staging threads, possibly at the same time: post it to where it is
    // shown. Set before the export starts.
    std::function<void(double)> onProgress;

    // Reports `fraction` of the whole when it is at least a hundredth more than
    // the last report. Any thread.
    void reportProgress(double fraction);

private:
    std::atomic<bool> m_cancelled {false};
    std::atomic<int> m_lastPercent {-1};
};

// The message of a cancelled export.
inline constexpr const char *CANCELLED_MESSAGE = "Export cancelled.";
