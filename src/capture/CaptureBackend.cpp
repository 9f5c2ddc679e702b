#include "capture/CaptureBackend.h"

#include <ctime>
#include <thread>

double monotonicSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double CaptureBackend::now() const
{
    return monotonicSeconds();
}

std::shared_ptr<SerialQueue> makeSharedSerialQueue(const QString &name)
{
    return std::shared_ptr<SerialQueue>(new SerialQueue(name), [](SerialQueue *queue) {
        if (queue->isCurrentThread())
            std::thread([queue] { delete queue; }).detach();
        else
            delete queue;
    });
}
