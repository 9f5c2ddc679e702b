#include "base/SerialQueue.h"
#include "base/MainThread.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(SerialQueue, RunsTasksFromManyThreadsOneAtATimeInSubmissionOrder)
{
    SerialQueue queue(QStringLiteral("org.quillo.Quillo.test"));
    std::vector<int> seen; // touched only on the queue
    std::atomic<int> running {0};
    std::atomic<bool> overlapped {false};

    std::vector<std::thread> producers;
    for (int t = 0; t < 4; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < 250; ++i) {
                queue.async([&, t, i] {
                    if (running.fetch_add(1) != 0)
                        overlapped = true;
                    seen.push_back(t * 1000 + i);
                    running.fetch_sub(1);
                });
            }
        });
    }
    for (std::thread &p : producers)
        p.join();
    queue.drain();

    EXPECT_FALSE(overlapped);
    ASSERT_EQ(seen.size(), 1000u);
    // Each producer's tasks keep their own order.
    std::vector<int> last(4, -1);
    for (const int v : seen) {
        EXPECT_GT(v % 1000, last[v / 1000]);
        last[v / 1000] = v % 1000;
    }
}

TEST(SerialQueue, SyncFromItsOwnThreadRunsInlineAndDestructorRunsPendingTasks)
{
    std::atomic<int> count {0};
    {
        SerialQueue queue(QStringLiteral("org.quillo.Quillo.test"));
        bool inner = false;
        queue.sync([&] {
            EXPECT_TRUE(queue.isCurrentThread());
            queue.sync([&] { inner = true; }); // would deadlock if queued
        });
        EXPECT_TRUE(inner);
        EXPECT_FALSE(queue.isCurrentThread());
        for (int i = 0; i < 100; ++i)
            queue.async([&] { ++count; });
    }
    EXPECT_EQ(count, 100);
}

TEST(MainThread, PostedTasksRunLaterOnTheGuiThreadInOrder)
{
    std::vector<int> order;
    SerialQueue worker(QStringLiteral("org.quillo.Quillo.test"));
    worker.async([&] {
        postToMain([&] {
            EXPECT_TRUE(isMainThread());
            order.push_back(1);
        });
        postToMain([&] { order.push_back(2); });
    });
    postToMain([&] { order.push_back(0); });
    EXPECT_TRUE(order.empty()); // never inline, not even from the GUI thread
    worker.drain();
    ASSERT_TRUE(waitUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order.front(), 0);
    EXPECT_EQ(order.back(), 2);
}
