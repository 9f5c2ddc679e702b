#include "editor/EditorController.h"

#include "base/Log.h"
#include "base/MainThread.h"
#include "base/Settings.h"
#include "export/AnimatedFormats.h"
#include "export/ExportJob.h"
#include "export/GifExporter.h"
#include "export/SizeEstimate.h"

#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QThreadPool>
#include <QTimer>

// The size estimate beside the export controls: samples of the project
// written in the background through the path the user would export with (the
// format of this editor's last export, GIF until then, at the chosen quality
// and encoder). It waits until the edits pause, and a newer estimate cancels
// an older one; while an export runs there is none, so both never compete for
// the cores.

namespace {

constexpr int kSettleMs = 700;
// Off ("false") where even a sample export is too much for the machine.
const QString kEnabledKey = QStringLiteral("sizeEstimate");

} // namespace

QString EditorController::estimateFormatName() const
{
    const std::optional<GifExporter::AnimatedFormat> animated = GifExporter::formatFromExtension(m_estimateFormat);
    return animated ? GifExporter::formatName(*animated) : m_estimateFormat.toUpper();
}

void EditorController::scheduleEstimate()
{
    if (!m_estimateTimer) {
        m_estimateTimer = new QTimer(this);
        m_estimateTimer->setSingleShot(true);
        connect(m_estimateTimer, &QTimer::timeout, this, &EditorController::startEstimate);
    }
    m_estimateTimer->start(kSettleMs);
}

QString EditorController::estimateKey() const
{
    // What the file's size depends on: the path, its settings, the pictures
    // and their delays. A selection or a playback step changes none of it.
    QString key = m_estimateFormat + QLatin1Char('/') + QString::number(rawValue(chosenQuality())) + QLatin1Char('/')
        + rawValue(chosenEncoder()) + QLatin1Char('/') + QString::number(project()->loopCount);
    for (const GifFrameRef &frame : project()->frames)
        key += QLatin1Char(' ') + QString::number(quintptr(frame->pixels().get()), 36) + QLatin1Char(':')
            + QString::number(frame->delayMs);
    return key;
}

SizeEstimate::Writer EditorController::estimateWriter() const
{
    const GifQuality quality = chosenQuality();
    if (m_estimateFormat == QLatin1String("mp4")) {
        return [quality](const GifProject &project, const QString &path, ExportJob &job) {
            return GifExporter::exportMP4(project, path, quality, &job);
        };
    }
    if (const std::optional<GifExporter::AnimatedFormat> format = GifExporter::formatFromExtension(m_estimateFormat)) {
        return [format = *format, quality](const GifProject &project, const QString &path, ExportJob &job) {
            return GifExporter::exportAnimated(format, project, path, quality, project.loopCount, &job);
        };
    }
    const GifEncoder encoder = chosenEncoder();
    return [encoder, quality](const GifProject &project, const QString &path, ExportJob &job) {
        return GifExporter::exportGif(project, path, ExportOptions(encoder, quality, project.loopCount), &job);
    };
}

void EditorController::startEstimate()
{
    if (!Settings::value(kEnabledKey, true).toBool()) {
        m_estimateLabel->hide();
        return;
    }
    // Only for a window the user sees, and never beside an export.
    if (m_closed || !m_window->isVisible() || isExporting() || frameCount() == 0) {
        if (frameCount() == 0)
            m_estimateLabel->clear();
        return;
    }
    const QString key = estimateKey();
    if (key == m_estimatedKey)
        return;
    if (m_estimateJob)
        m_estimateJob->cancel();
    m_estimatedKey = key;
    const QString name = estimateFormatName();
    m_estimateLabel->setText(name + QStringLiteral(" ≈ …"));
    m_estimateLabel->setToolTip(QStringLiteral("Working out the expected size of the %1").arg(name));

    auto job = std::make_shared<ExportJob>();
    m_estimateJob = job;
    SizeEstimate::Samples samples = SizeEstimate::takeSamples(*project(), SizeEstimate::shapeFor(m_estimateFormat));
    const size_t sampled = samples.plan.runs.size();
    const bool whole = samples.plan.whole;
    const QString extension = m_estimateFormat;
    const SizeEstimate::Writer write = estimateWriter();
    const QPointer<EditorController> self(this);
    QThreadPool::globalInstance()->start(
        [self, job, samples = std::move(samples), extension, write, name, sampled, whole] {
            const std::optional<int64_t> bytes = SizeEstimate::estimate(samples, extension, write, *job);
            postToMain([self, job, bytes, name, sampled, whole] {
                if (!self || self->m_estimateJob != job)
                    return;
                self->m_estimateJob.reset();
                if (!bytes) {
                    // Cancelled for a newer one, or a path that cannot write:
                    // the export itself will say why.
                    if (!job->isCancelled()) {
                        self->m_estimateLabel->clear();
                        self->m_estimateLabel->setToolTip(QString());
                    }
                    return;
                }
                self->m_estimateLabel->setText(name + QStringLiteral(" ≈ ") + SizeEstimate::sizeText(*bytes));
                self->m_estimateLabel->setToolTip(whole
                        ? QStringLiteral("The size of the %1 at the chosen quality").arg(name)
                        : QStringLiteral("The expected size of the %1 at the chosen quality, from a sample of %2 "
                                         "frames")
                              .arg(name)
                              .arg(sampled));
                Log::write(QStringLiteral("size estimate ") + name + QLatin1Char(' ') + QString::number(*bytes));
            });
        });
}

void EditorController::cancelEstimate()
{
    if (m_estimateJob)
        m_estimateJob->cancel();
    m_estimateJob.reset();
    // The next estimate starts afresh, whatever this one had got to.
    m_estimatedKey.clear();
}
