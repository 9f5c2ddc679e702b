#include "export/FrameStaging.h"

#include "export/ExportTiming.h"

#include <QDir>
#include <QImageWriter>
#include <QSaveFile>
#include <QUuid>

namespace GifExporter {

namespace {

// zlib level 1: staging files live for seconds, speed matters more than size.
constexpr int PNG_COMPRESSION = 1;

bool writePng(const QImage &image, const QString &path)
{
    QImageWriter writer(path, "png");
    writer.setCompression(PNG_COMPRESSION);
    return writer.write(image);
}

} // namespace

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
    for (size_t i = 0; i < project.frames.size(); ++i) {
        const QString file = staged.filePath(frameFileName(qsizetype(i)));
        if (!writePng(project.frames[i]->image, file))
            return std::nullopt;
        pngs.append(file);
    }
    QSaveFile list(staged.filePath(QStringLiteral("list.txt")));
    if (!list.open(QIODevice::WriteOnly))
        return std::nullopt;
    list.write(concatList(project).toUtf8());
    if (!list.commit())
        return std::nullopt;
    return FrameDir(staged.release(), std::move(pngs));
}

} // namespace GifExporter
