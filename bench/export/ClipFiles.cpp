#include "ClipFiles.h"

#include <QDir>
#include <QFile>
#include <QImage>

namespace ClipFiles {

namespace {

std::optional<std::vector<int64_t>> readNumbers(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    std::vector<int64_t> numbers;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        bool ok = false;
        const int64_t value = line.trimmed().toLongLong(&ok);
        if (!ok)
            return std::nullopt;
        numbers.push_back(value);
    }
    return numbers;
}

} // namespace

GifProjectRef load(const QString &dir, QString *error)
{
    const std::optional<std::vector<int64_t>> delays = readNumbers(dir + QStringLiteral("/delays.txt"));
    const std::optional<std::vector<int64_t>> fps = readNumbers(dir + QStringLiteral("/fps.txt"));
    if (!delays || !fps || fps->size() != 1) {
        *error = QStringLiteral("%1: delays.txt or fps.txt missing or unreadable").arg(dir);
        return nullptr;
    }
    const QStringList pngs = QDir(dir).entryList({QStringLiteral("frame*.png")}, QDir::Files, QDir::Name);
    if (pngs.isEmpty() || size_t(pngs.size()) != delays->size()) {
        *error = QStringLiteral("%1: %2 frames but %3 delays").arg(dir).arg(pngs.size()).arg(delays->size());
        return nullptr;
    }
    GifFrameList frames;
    frames.reserve(size_t(pngs.size()));
    for (qsizetype i = 0; i < pngs.size(); ++i) {
        QImage image(dir + QLatin1Char('/') + pngs[i]);
        if (image.isNull()) {
            *error = QStringLiteral("%1/%2: not a readable image").arg(dir, pngs[i]);
            return nullptr;
        }
        frames.push_back(std::make_shared<GifFrame>(
            image.convertToFormat(QImage::Format_ARGB32_Premultiplied), (*delays)[size_t(i)]));
    }
    return std::make_shared<GifProject>(std::move(frames), (*fps)[0]);
}

} // namespace ClipFiles
