#include "export/FrameStaging.h"

#include "base/ParallelFor.h"
#include "export/ExportTiming.h"
#include "export/StagingPng.h"

#include <QDir>
#include <QSaveFile>
#include <QUuid>

#include <algorithm>

namespace GifExporter {

FrameDir::FrameDir(QString dir, QStringList pngs)
    : m_dir(std::move(dir))
    , m_pngs(std::move(pngs))
{
}

FrameDir::FrameDir(FrameDir &&other) noexcept
    : m_dir(std::exchange(other.m_dir, QString()))
    , m_pngs(std::exchange(other.m_pngs, QStringList()))
{
}

FrameDir::~FrameDir()
{
    if (!m_dir.isEmpty())
        QDir(m_dir).removeRecursively();
}

QString FrameDir::release()
{
    m_pngs.clear();
    return std::exchange(m_dir, QString());
}

QString FrameDir::filePath(const QString &name) const
{
    return m_dir + QLatin1Char('/') + name;
}

QString frameFileName(qsizetype index)
{
    return QStringLiteral("frame%1.png").arg(index, 5, 10, QLatin1Char('0'));
}

QString concatList(const GifProject &project)
{
    QString text = QStringLiteral("ffconcat version 1.0\n");
    for (size_t i = 0; i < project.frames.size(); ++i) {
        text += QLatin1String("file '") + frameFileName(qsizetype(i)) + QLatin1String("'\n");
        text += QLatin1String("option framerate 100\n");
        text += QLatin1String("duration ")
            + ExportTiming::secondsText(ExportTiming::frameSeconds(project.frames[i]->delayMs)) + QLatin1Char('\n');
    }
    return text;
}

QString videoConcatList(const GifProject &project)
{
    QString text = QStringLiteral("ffconcat version 1.0\n");
    const size_t count = project.frames.size();
    for (size_t i = 0; i < count; ++i) {
        const int64_t delayMs = std::max<int64_t>(project.frames[i]->delayMs, ExportTiming::MIN_VIDEO_DELAY_MS);
        const int64_t listedMs = i + 1 < count ? delayMs : delayMs - 1;
        text += QLatin1String("file '") + frameFileName(qsizetype(i)) + QLatin1String("'\n");
        text += QLatin1String("option framerate 1000\n");
        text += QLatin1String("duration ") + ExportTiming::secondsText(double(listedMs) / 1000.0) + QLatin1Char('\n');
    }
    if (count > 0) {
        text += QLatin1String("file '") + frameFileName(qsizetype(count - 1)) + QLatin1String("'\n");
        text += QLatin1String("option framerate 1000\n");
    }
    return text;
}

bool writeStagedText(const FrameDir &staged, const QString &name, const QString &text)
{
    QSaveFile file(staged.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.toUtf8());
    return file.commit();
}

std::optional<FrameDir> makeFrameDir(const GifProject &project)
{
    const QString path
        = QDir::tempPath() + QLatin1String("/quillo-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!QDir().mkpath(path))
        return std::nullopt;
    // From here the folder is removed on every failure by the owner's
    // destructor.
    FrameDir staged(path, {});
    QStringList pngs;
    for (size_t i = 0; i < project.frames.size(); ++i)
        pngs.append(staged.filePath(frameFileName(qsizetype(i))));
    // Encoding is most of an external export's own time: one frame per core.
    if (!parallelFor(project.frames.size(),
            [&](size_t i) { return StagingPng::write(project.frames[i]->image, pngs[qsizetype(i)]); }))
        return std::nullopt;
    if (!writeStagedText(staged, QStringLiteral("list.txt"), concatList(project)))
        return std::nullopt;
    return FrameDir(staged.release(), std::move(pngs));
}

} // namespace GifExporter
