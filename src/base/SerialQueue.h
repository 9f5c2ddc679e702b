#pragma once

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// One worker thread running tasks in submission order, the way the capture
// engine and the log need a private serial queue.
//
// async() and sync() may be called from any thread. sync() from the queue's
// own thread runs the task inline instead of deadlocking. The destructor runs
// the tasks already submitted, then joins the thread; it must not be called
// from the queue's own thread.
class SerialQueue {
public:
    explicit SerialQueue(QString name);
    ~SerialQueue();

    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    const QString &name() const { return m_name; }

    void async(std::function<void()> task);
    // Runs the task on the queue and waits for it to finish.
    void sync(const std::function<void()> &task);
    // Waits until every task submitted before this call has run.
    void drain();

    bool isCurrentThread() const;

private:
    void run();

    const QString m_name;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::thread m_thread;
};
