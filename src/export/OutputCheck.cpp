#include "export/OutputCheck.h"

#include "export/GifFile.h"

#include <QFile>
#include <QFileInfo>

namespace OutputCheck {

namespace {

QString presenceProblem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("it wrote no file");
    if (info.size() == 0)
        return QStringLiteral("the file it wrote is empty");
    return {};
}

} // namespace

std::optional<int64_t> gifImageCount(const QString &path)
{
    const std::optional<GifFile::Structure> structure = GifFile::read(path);
    if (!structure)
        return std::nullopt;
    return int64_t(structure->delays.size());
}

QString gifProblem(const QString &path, int64_t expectedImages, bool atLeastOne)
{
    if (QString problem = presenceProblem(path); !problem.isEmpty())
        return problem;
    const std::optional<int64_t> images = gifImageCount(path);
    if (!images)
        return QStringLiteral("the file it wrote is not a complete GIF");
    if (atLeastOne ? *images < 1 : *images != expectedImages)
        return QStringLiteral("the GIF it wrote holds %1 of %2 frames").arg(*images).arg(expectedImages);
    return {};
}

QString mp4Problem(const QString &path)
{
    if (QString problem = presenceProblem(path); !problem.isEmpty())
        return problem;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the file it wrote cannot be read");
    bool first = true;
    bool movie = false;
    qint64 at = 0;
    while (at < file.size()) {
        if (!file.seek(at))
            break;
        const QByteArray box = file.read(8);
        if (box.size() < 8)
            return QStringLiteral("the file it wrote is not a complete MP4 video");
        quint64 size = (quint64(uchar(box[0])) << 24) | (quint64(uchar(box[1])) << 16) | (quint64(uchar(box[2])) << 8)
            | quint64(uchar(box[3]));
        const QByteArray type = box.mid(4, 4);
        if (size == 1) {
            const QByteArray large = file.read(8);
            if (large.size() < 8)
                return QStringLiteral("the file it wrote is not a complete MP4 video");
            size = 0;
            for (char byte : large)
                size = (size << 8) | uchar(byte);
        } else if (size == 0) {
            size = quint64(file.size() - at); // the box runs to the end
        }
        if (first && type != "ftyp")
            return QStringLiteral("the file it wrote is not an MP4 video");
        if (size < 8 || size > quint64(file.size() - at))
            return QStringLiteral("the file it wrote is not a complete MP4 video");
        movie = movie || type == "moov";
        first = false;
        at += qint64(size);
    }
    if (!movie)
        return QStringLiteral("the file it wrote is not a complete MP4 video");
    return {};
}

} // namespace OutputCheck
