#include "ExportTestSupport.h"

#include "export/GifWriter.h"

#include <QColor>

#include <cmath>
#include <limits>

namespace {

const char *STUB_SCRIPT = R"SH(#!/bin/sh
log="$QUILLO_STUB_LOG"
n=$(cat "$log.count" 2>/dev/null || echo 0)
n=$((n + 1))
echo "$n" > "$log.count"
{
  echo "== $(basename "$0")"
  echo "cwd=$(pwd)"
  for a in "$@"; do echo "$a"; done
} >> "$log"
if [ -f list.txt ]; then cp list.txt "$log.list$n"; fi
if [ -f video.txt ]; then cp video.txt "$log.video$n"; fi
if [ -n "$QUILLO_STUB_STDERR" ]; then printf '%s' "$QUILLO_STUB_STDERR" >&2; fi
last=""; after_o=""
for a in "$@"; do
  if [ "$after_o" = 1 ]; then out="$a"; fi
  if [ "$a" = "-o" ]; then after_o=1; else after_o=""; fi
  last="$a"
done
[ -n "$out" ] && last="$out"
case "$last" in
*.gif) [ -n "$QUILLO_STUB_GIF" ] && cp "$QUILLO_STUB_GIF" "$last" ;;
*.mp4) [ -n "$QUILLO_STUB_MP4" ] && cp "$QUILLO_STUB_MP4" "$last" ;;
esac
if [ -n "$QUILLO_STUB_SLEEP" ]; then
  sleep "$QUILLO_STUB_SLEEP" &
  echo $! > "$log.sleeper"
  wait
fi
if [ "$n" = "${QUILLO_STUB_FAIL_AT:-0}" ]; then exit 3; fi
exit 0
)SH";

} // namespace

QByteArray minimalMp4()
{
    // Two empty boxes: the structure a complete MP4 file has, and nothing more.
    return QByteArray("\0\0\0\x10"
                      "ftypisom\0\0\x02\0",
               16)
        + QByteArray("\0\0\0\x08"
                     "moov",
            8);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

StubTools::StubTools(const QStringList &tools, int gifFrames)
    : m_dirs("QUILLO_TOOL_DIRS", m_dir.path().toLocal8Bit())
    , m_log("QUILLO_STUB_LOG", m_dir.filePath(QStringLiteral("log.txt")).toLocal8Bit())
    , m_gif("QUILLO_STUB_GIF",
          gifFrames > 0 ? std::optional(m_dir.filePath(QStringLiteral("sample.gif")).toLocal8Bit()) : std::nullopt)
    , m_mp4("QUILLO_STUB_MP4", m_dir.filePath(QStringLiteral("sample.mp4")).toLocal8Bit())
{
    if (gifFrames > 0) {
        QImage pixel(2, 2, QImage::Format_ARGB32_Premultiplied);
        std::vector<QImage> images;
        for (int i = 0; i < gifFrames; ++i) {
            pixel.fill(QColor(i * 10 % 256, 0, 0));
            images.push_back(pixel.copy());
        }
        // A hundredth each, as gifski writes frames at 100 per second.
        GifWriter().write(
            m_dir.filePath(QStringLiteral("sample.gif")), images, std::vector<int>(size_t(gifFrames), 1), 0);
    }
    writeFile(m_dir.filePath(QStringLiteral("sample.mp4")), minimalMp4());
    for (const QString &tool : tools) {
        QFile file(m_dir.filePath(tool));
        file.open(QIODevice::WriteOnly);
        file.write(STUB_SCRIPT);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::ExeOther);
    }
}

QList<QStringList> StubTools::runs() const
{
    QFile file(logPath());
    QList<QStringList> result;
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("== ")))
            result.append(QStringList {line.mid(3)});
        else if (!result.isEmpty() && !line.isEmpty())
            result.last().append(line);
    }
    return result;
}

QString StubTools::listSeenBy(int run, const QString &kind) const
{
    QFile file(logPath() + QLatin1Char('.') + kind + QString::number(run));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

ToolOutput runChecker(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(-1))
        return {};
    process.waitForFinished(-1);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput())};
}

QList<QImage> decodeGifFrames(const QString &gif)
{
    QTemporaryDir workDir;
    const QString pattern = workDir.filePath(QStringLiteral("decoded%05d.png"));
    runChecker(QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-i"), gif,
            QStringLiteral("-fps_mode"), QStringLiteral("passthrough"), QStringLiteral("-pix_fmt"),
            QStringLiteral("rgb24"), pattern});
    QList<QImage> frames;
    for (int i = 1;; ++i) {
        QImage image(workDir.filePath(QStringLiteral("decoded%1.png").arg(i, 5, 10, QLatin1Char('0'))));
        if (image.isNull())
            break;
        frames.append(image.convertToFormat(QImage::Format_RGB32));
    }
    return frames;
}

double psnr(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    if (x.size() != y.size())
        return 0;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            const int dr = qRed(p[col]) - qRed(q[col]);
            const int dg = qGreen(p[col]) - qGreen(q[col]);
            const int db = qBlue(p[col]) - qBlue(q[col]);
            sum += dr * dr + dg * dg + db * db;
        }
    }
    if (sum == 0)
        return std::numeric_limits<double>::infinity();
    const double mse = sum / (3.0 * x.width() * x.height());
    return 10 * std::log10(255.0 * 255.0 / mse);
}

GifProjectRef solidProject(int count, int w, int h, QColor color, int64_t delayMs, int64_t fps)
{
    GifFrameList frames;
    for (int i = 0; i < count; ++i) {
        QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
        image.fill(color);
        frames.push_back(std::make_shared<GifFrame>(image, delayMs));
    }
    return std::make_shared<GifProject>(std::move(frames), fps, 0);
}
