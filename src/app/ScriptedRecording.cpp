#include "app/ScriptedRecording.h"

#include "app/StopSignals.h"
#include "base/Log.h"
#include "capture/CaptureEngine.h"
#include "export/GifExporter.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <cmath>
#include <csignal>
#include <cstdio>

namespace {

void printTo(FILE *stream, const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString pixelsText(const QRect &r)
{
    return QStringLiteral("%1x%2+%3+%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
}

// One recording from start to export. Lives until the process ends.
class Run : public QObject {
public:
    Run(RecordRequest request, std::function<std::shared_ptr<CaptureEngine>()> makeEngine,
        std::function<void(int)> finish)
        : m_request(std::move(request))
        , m_makeEngine(std::move(makeEngine))
        , m_finish(std::move(finish))
    {
    }

    void begin()
    {
        watchSignals();
        std::vector<ScriptedRecording::ScreenLayout> layouts;
        for (QScreen *screen : QGuiApplication::screens())
            layouts.push_back({screen->geometry(), screen->devicePixelRatio()});
        const std::optional<QRectF> logical = ScriptedRecording::logicalRegion(m_request.region, layouts);
        if (!logical) {
            QStringList screens;
            for (const auto &layout : layouts) {
                const QSize pixels = (QSizeF(layout.geometry.size()) * layout.devicePixelRatio).toSize();
                screens << pixelsText(QRect(layout.geometry.topLeft(), pixels));
            }
            return fail(QStringLiteral("The region %1 does not lie inside one screen (screens: %2).")
                            .arg(pixelsText(m_request.region),
                                screens.isEmpty() ? QStringLiteral("none") : screens.join(", ")));
        }
        m_region = Geometry::fromQt(*logical);
        m_screen = ScreenUtil::screen(m_region);
        if (m_request.delaySeconds > 0)
            QTimer::singleShot(milliseconds(m_request.delaySeconds), this, [this] { record(); });
        else
            record();
    }

private:
    static int milliseconds(double seconds) { return int(std::lround(seconds * 1000)); }

    void watchSignals()
    {
        // A second signal ends the program the usual way, in case the export
        // itself is what the user wants to abandon.
        auto *stopSignals = new StopSignals({SIGINT, SIGTERM}, this);
        stopSignals->onSignal = [this](int) {
            Log::write(QStringLiteral("scripted recording: stop signal"));
            if (m_engine)
                stop();
            else
                fail(QStringLiteral("Stopped before the recording began; nothing was written."));
        };
    }

    void record()
    {
        m_engine = m_makeEngine();
        m_engine->fps = m_request.fps;
        const QPointer<Run> self(this);
        m_engine->onAutoStop = [self] {
            if (self)
                self->stop();
        };
        // The stream ended by itself (the X server went away, memory ran
        // low): the recording ends there, and what it kept is still written.
        m_engine->onStreamEnded = [self](const CaptureFailure &failure) {
            if (!self)
                return;
            printTo(stderr, QStringLiteral("quillo: The recording ended early. ") + failure.description());
            self->stop();
        };
        m_engine->start(m_region, m_screen, [self](std::optional<CaptureFailure> error) {
            if (!self)
                return;
            if (error)
                return self->fail(QStringLiteral("Could not start recording: ") + error->description());
            // The time runs from the first moment frames can arrive.
            QTimer::singleShot(milliseconds(self->m_request.durationSeconds), self, [self] { self->stop(); });
        });
    }

    void stop()
    {
        if (m_stopping || !m_engine)
            return;
        m_stopping = true;
        const QPointer<Run> self(this);
        m_engine->stop([self](GifProjectRef project) {
            if (self)
                self->write(project);
        });
    }

    void write(const GifProjectRef &project)
    {
        if (!project || project->frames.empty())
            return fail(QStringLiteral("No frames captured; nothing was written to %1.").arg(m_request.output));
        project->loopCount = m_request.loopCount;
        const ExportResult result = m_request.mp4
            ? GifExporter::exportMP4(*project, m_request.output, m_request.quality)
            : GifExporter::exportGif(*project, m_request.output,
                {m_request.encoder.value_or(GifExporter::defaultEncoder()), m_request.quality, m_request.loopCount});
        if (!result.ok)
            return fail(QStringLiteral("Could not write %1: %2").arg(m_request.output, result.message));
        const QSizeF canvas(project->canvasSize().width, project->canvasSize().height);
        printTo(stdout,
            ScriptedRecording::resultLine(
                int64_t(project->frames.size()), canvas, project->totalDurationMs(), m_request.output, result.message));
        m_finish(0);
    }

    void fail(const QString &message)
    {
        Log::write(QStringLiteral("scripted recording failed: ") + message);
        printTo(stderr, QStringLiteral("quillo: ") + message);
        m_finish(1);
    }

    const RecordRequest m_request;
    std::function<std::shared_ptr<CaptureEngine>()> m_makeEngine;
    std::function<void(int)> m_finish;
    Rect m_region;
    ScreenInfo m_screen;
    std::shared_ptr<CaptureEngine> m_engine;
    bool m_stopping = false;
};

} // namespace

namespace ScriptedRecording {

std::optional<QRectF> logicalRegion(const QRect &pixels, const std::vector<ScreenLayout> &screens)
{
    for (const ScreenLayout &screen : screens) {
        const QPointF origin = screen.geometry.topLeft();
        const double ratio = screen.devicePixelRatio > 0 ? screen.devicePixelRatio : 1.0;
        const QRectF native(origin, QSizeF(screen.geometry.size()) * ratio);
        if (!native.contains(QPointF(pixels.topLeft()) + QPointF(0.5, 0.5)))
            continue;
        const QRectF inPixels(pixels);
        if (inPixels.right() > native.right() || inPixels.bottom() > native.bottom())
            return std::nullopt;
        return QRectF(origin + (inPixels.topLeft() - origin) / ratio, inPixels.size() / ratio);
    }
    return std::nullopt;
}

QString resultLine(int64_t frames, QSizeF canvas, int64_t totalMs, const QString &output, const QString &message)
{
    return QStringLiteral("Recorded %1 frames (%2x%3, %4 s) to %5: %6")
        .arg(frames)
        .arg(std::lround(canvas.width()))
        .arg(std::lround(canvas.height()))
        .arg(double(totalMs) / 1000.0, 0, 'f', 2)
        .arg(output, message);
}

void start(const RecordRequest &request, std::function<std::shared_ptr<CaptureEngine>()> makeEngine,
    std::function<void(int status)> finish)
{
    auto *run = new Run(request, std::move(makeEngine), std::move(finish));
    run->setParent(qApp);
    run->begin();
}

} // namespace ScriptedRecording
