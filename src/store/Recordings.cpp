#include "store/Recordings.h"

#include "store/RecordingFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

using namespace RecordingFiles;

namespace Recordings {

namespace {

bool ownFile(const QString &name)
{
    return name == QLatin1String(INFO_NAME) || name == QLatin1String("info.new") || name == QLatin1String(INDEX_NAME)
        || name == QLatin1String(INDEX_TEMP_NAME) || name == QLatin1String(LOCK_NAME) || segmentNumber(name);
}

RecordingSummary summarise(const QString &folder)
{
    RecordingSummary s;
    s.folder = folder;
    s.created = QFileInfo(folder).lastModified();
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (names.isEmpty() && !QFileInfo(folder).isReadable()) {
        s.problem = QStringLiteral("Cannot read %1").arg(folder);
        return s;
    }
    const FileRead info = readWhole(folder + QLatin1Char('/') + QLatin1String(INFO_NAME));
    if (info.error) {
        s.problem = info.error->message;
        return s;
    }
    if (const std::optional<RecordingInfo> decoded = info.bytes ? decodeInfo(*info.bytes) : std::nullopt)
        s.created = decoded->created.toLocalTime();
    else
        s.problem = QStringLiteral("%1/%2 is missing or damaged").arg(folder, QLatin1String(INFO_NAME));

    const FileRead index = readWhole(folder + QLatin1Char('/') + QLatin1String(INDEX_NAME));
    if (index.error) {
        s.problem = index.error->message;
        return s;
    }
    if (index.bytes) {
        if (const std::optional<StoredIndex> stored = decodeIndex(*index.bytes)) {
            s.frameCount = int64_t(stored->frames.size());
            s.canvas = QSize(stored->canvasWidth, stored->canvasHeight);
            return s;
        }
        s.problem = QStringLiteral("%1/%2 is damaged").arg(folder, QLatin1String(INDEX_NAME));
    }
    // Interrupted before its first index: count the captured frames. Only the
    // headers are read here; opening checks every byte.
    for (const QString &name : names) {
        const std::optional<uint32_t> n = segmentNumber(name);
        if (!n)
            continue;
        const SegmentScan scan = scanSegment(folder + QLatin1Char('/') + name, *n, false);
        if (scan.error) {
            s.problem = scan.error->message;
            return s;
        }
        if (!scan.damage.isEmpty() && s.problem.isEmpty())
            s.problem = scan.damage.front();
        for (const RecordLocation &r : scan.records) {
            if (!r.header.timestampUs)
                continue;
            if (s.frameCount++ == 0)
                s.canvas = QSize(int(r.header.width), int(r.header.height));
        }
    }
    return s;
}

} // namespace

QString root()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/Quillo/recordings");
}

std::vector<RecordingSummary> list(const QString &root)
{
    std::vector<RecordingSummary> out;
    const QDir dir(root);
    for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString folder = dir.filePath(name);
        if (isLocked(folder))
            continue; // a running Quillo's recording
        out.push_back(summarise(folder));
    }
    std::sort(out.begin(), out.end(),
        [](const RecordingSummary &a, const RecordingSummary &b) { return a.created > b.created; });
    return out;
}

std::optional<StoreError> remove(const QString &folder)
{
    if (isLocked(folder))
        return StoreError {
            StoreError::Kind::inUse, QStringLiteral("The recording in %1 is open in another Quillo").arg(folder)};
    const QDir dir(folder);
    if (!dir.exists())
        return std::nullopt;
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    QStringList foreign;
    for (const QString &name : names) {
        if (!ownFile(name) || !QFileInfo(dir.filePath(name)).isFile())
            foreign << name;
    }
    if (!foreign.isEmpty())
        return StoreError {StoreError::Kind::unwritable,
            QStringLiteral("%1 holds files that are not Quillo's (%2); it was left in place")
                .arg(folder, foreign.join(QStringLiteral(", ")))};
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
            return errnoError(errno, QStringLiteral("Cannot remove"), path);
    }
    if (::rmdir(QFile::encodeName(folder).constData()) != 0 && errno != ENOENT)
        return errnoError(errno, QStringLiteral("Cannot remove"), folder);
    return std::nullopt;
}

} // namespace Recordings
