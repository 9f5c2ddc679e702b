#include "capture/CaptureService.h"

#include "capture/synthetic/SyntheticCaptureService.h"
#include "capture/x11/X11CaptureService.h"

#include <QGuiApplication>
#include <QScreen>

#include <thread>

std::shared_ptr<SerialQueue> makeSharedSerialQueue(const QString &name)
{
    return std::shared_ptr<SerialQueue>(new SerialQueue(name), [](SerialQueue *queue) {
        if (queue->isCurrentThread())
            std::thread([queue] { delete queue; }).detach();
        else
            delete queue;
    });
}

std::shared_ptr<CaptureService> CaptureService::createDefault()
{
    if (qEnvironmentVariable("QUILLO_CAPTURE_BACKEND") == QLatin1String("synthetic")) {
        auto service = std::make_shared<SyntheticCaptureService>(SyntheticCaptureService::sceneFromScreens(), true);
        service->setFaults(SyntheticCaptureService::faultsFromEnvironment());
        return service;
    }
    double scale = 1.0;
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        if (const QScreen *primary = QGuiApplication::primaryScreen())
            scale = primary->devicePixelRatio();
    }
    return std::make_shared<X11CaptureService>(scale);
}
