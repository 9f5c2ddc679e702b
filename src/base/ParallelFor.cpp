#include "base/ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

bool parallelFor(std::size_t count, const std::function<bool(std::size_t)> &task)
{
    std::atomic<std::size_t> next {0};
    std::atomic<bool> failed {false};
    auto work = [&] {
        while (!failed.load(std::memory_order_relaxed)) {
            const std::size_t index = next.fetch_add(1, std::memory_order_relaxed);
            if (index >= count)
                return;
            if (!task(index))
                failed.store(true, std::memory_order_relaxed);
        }
    };
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::jthread> helpers;
    for (std::size_t i = 1; i < std::min(cores, count); ++i)
        helpers.emplace_back(work);
    work();
    helpers.clear();
    return !failed.load();
}
