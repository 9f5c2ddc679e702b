#include "base/SerialQueue.h"

#include <pthread.h>

SerialQueue::SerialQueue(QString name)
    : m_name(std::move(name))
{
    m_thread = std::thread([this] { run(); });
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void SerialQueue::async(std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void SerialQueue::sync(const std::function<void()> &task)
{
    if (isCurrentThread()) {
        task();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneWake;
    bool done = false;
    async([&] {
        task();
        std::lock_guard lock(doneMutex);
        done = true;
        doneWake.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneWake.wait(lock, [&] { return done; });
}

void SerialQueue::drain()
{
    sync([] {});
}

bool SerialQueue::isCurrentThread() const
{
    return std::this_thread::get_id() == m_thread.get_id();
}

void SerialQueue::run()
{
    // Linux thread names are limited to 15 bytes: keep the most specific end
    // ("org.quillo.Quillo.capture" shows as "Quillo.capture").
    const QByteArray full = m_name.toUtf8();
    pthread_setname_np(pthread_self(), full.right(15).constData());

    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty())
                return; // stopping, and everything submitted has run
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}
