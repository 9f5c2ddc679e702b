#include "export/FrameStaging.h"

#include "base/ParallelFor.h"
#include "export/ExportTiming.h"
#include "export/StagingPng.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>

#include <algorithm>
#include <atomic>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace GifExporter {

namespace {

const char *LOCK_NAME = ".lock";

} // namespace

FrameDir::FrameDir(QString dir, int lockFd)
    : m_dir(std::move(dir))
    , m_lockFd(lockFd)
{
}

FrameDir::FrameDir(FrameDir &&other) noexcept
    : m_dir(std::exchange(other.m_dir, QString()))
    , m_pngs(std::exchange(other.m_pngs, QStringList()))
    , m_lockFd(std::exchange(other.m_lockFd, -1))
{
}

FrameDir::~FrameDir()
{
    if (!m_dir.isEmpty())
        QDir(m_dir).removeRecursively();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString FrameDir::filePath(const QString &name) const
{
    return m_dir + QLatin1Char('/') + name;
}

void removeLeftoverStaging()
{
    const QDir temp(QDir::tempPath());
    const uid_t self = ::getuid();
    for (const QFileInfo &entry : temp.entryInfoList({QStringLiteral("quillo-*")}, QDir::Dirs | QDir::Hidden)) {
        if (entry.isSymLink() || entry.ownerId() != self)
            continue;
        const QString lockPath = entry.absoluteFilePath() + QLatin1Char('/') + QLatin1String(LOCK_NAME);
        const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        bool abandoned = false;
        if (fd >= 0) {
            abandoned = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            ::close(fd);
        } else {
            // No lock: a folder of an older version, or one being made this
            // very moment. Only the old ones go.
            abandoned = entry.lastModified().secsTo(QDateTime::currentDateTime()) > 3600;
        }
        if (abandoned)
            QDir(entry.absoluteFilePath()).removeRecursively();
    }
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

std::optional<FrameDir> makeFrameDir(const GifProject &project, ExportJob *job, double progressShare)
{
    removeLeftoverStaging();
    QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/quillo-XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        return std::nullopt;
    const QString path = QFile::decodeName(pattern);
    const int lockFd = ::open(QFile::encodeName(path + QLatin1Char('/') + QLatin1String(LOCK_NAME)).constData(),
        O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (lockFd >= 0)
        ::flock(lockFd, LOCK_EX);
    // From here the folder is removed on every failure by the owner's
    // destructor.
    FrameDir staged(path, lockFd);
    if (lockFd < 0)
        return std::nullopt;
    QStringList pngs;
    for (size_t i = 0; i < project.frames.size(); ++i)
        pngs.append(staged.filePath(frameFileName(qsizetype(i))));
    // Encoding is most of an external export's own time: one frame per core.
    std::atomic<size_t> written {0};
    const double count = double(std::max<size_t>(project.frames.size(), 1));
    const bool complete = parallelFor(project.frames.size(), [&](size_t i) {
        if (job && job->isCancelled())
            return false;
        if (!StagingPng::write(project.frames[i]->image(), pngs[qsizetype(i)]))
            return false;
        if (job)
            job->reportProgress(progressShare * double(++written) / count);
        return true;
    });
    if (!complete)
        return std::nullopt;
    if (!writeStagedText(staged, QStringLiteral("list.txt"), concatList(project)))
        return std::nullopt;
    staged.setPngs(std::move(pngs));
    return staged;
}

} // namespace GifExporter
