#pragma once

#include <cstddef>
#include <functional>

// Runs task(0) ... task(count - 1) on every core: the calling thread and up to
// one helper thread per further core, each taking the next index in turn. Once
// a task returns false no new index is handed out (tasks already running
// finish) and the result is false. Returns after every started task has
// ended. The tasks must be safe to run at the same time; the order in which
// indices run is not defined. Any thread.
bool parallelFor(std::size_t count, const std::function<bool(std::size_t)> &task);
