#include "export/AnimatedFormats.h"

#include "export/ExportSteps.h"
#include "export/ExportTiming.h"
#include "export/FrameStaging.h"
#include "export/OutputCheck.h"
#include "export/ToolProgress.h"
#include "export/Tools.h"

#include <QFile>
#include <QProcess>

#include <algorithm>
#include <map>
#include <mutex>

namespace GifExporter {

namespace {

QString playsText(int64_t loopCount)
{
    // WebP's loop count and APNG's plays both count plays, 0 for ever.
    return QString::number(std::clamp<int64_t>(loopCount, 0, 65535));
}

// The frame list for image formats: each delay at least 20 ms (what
// browsers honour), to the millisecond.
QString imageConcatList(const GifProject &project)
{
    QString text = QStringLiteral("ffconcat version 1.0\n");
    for (size_t i = 0; i < project.frames.size(); ++i) {
        text += QLatin1String("file '") + frameFileName(qsizetype(i)) + QLatin1String("'\n");
        text += QLatin1String("option framerate 1000\n");
        text += QLatin1String("duration ")
            + ExportTiming::secondsText(double(ExportTiming::gifDelayMs(project.frames[i]->delayMs)) / 1000.0)
            + QLatin1Char('\n');
    }
    return text;
}

uint32_t readLe(const QByteArray &bytes, qsizetype at, int size)
{
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | uchar(bytes[at + i]);
    return value;
}

// ffmpeg's WebP writer gives the last frame a length of its own choosing;
// the project's total decides it instead. Returns what is wrong, or empty.
QString settleWebP(const QString &path, int64_t frames, int64_t totalMs)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return QStringLiteral("the file it wrote cannot be read");
    QByteArray bytes = file.readAll();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WEBP")
        return QStringLiteral("the file it wrote is not a WebP image");
    std::vector<qsizetype> durations; // offsets of each frame's duration field
    int64_t sum = 0;
    for (qsizetype at = 12; at + 8 <= bytes.size();) {
        const QByteArray kind = bytes.mid(at, 4);
        const qsizetype size = qsizetype(readLe(bytes, at + 4, 4));
        if (at + 8 + size > bytes.size())
            return QStringLiteral("the file it wrote is not a complete WebP image");
        if (kind == "ANMF" && size >= 16) {
            durations.push_back(at + 8 + 12);
            sum += readLe(bytes, at + 8 + 12, 3);
        }
        at += 8 + size + (size & 1);
    }
    if (durations.empty() || int64_t(durations.size()) > frames)
        return QStringLiteral("the WebP it wrote holds %1 of %2 frames").arg(durations.size()).arg(frames);
    const int64_t last = totalMs - (sum - readLe(bytes, durations.back(), 3));
    if (last < 1 || last > 0xFFFFFF)
        return QStringLiteral("the WebP it wrote does not last as long as the project");
    const char field[] = {char(last & 0xff), char((last >> 8) & 0xff), char((last >> 16) & 0xff)};
    if (!file.seek(durations.back()) || file.write(field, 3) != 3 || !file.flush())
        return QStringLiteral("the WebP it wrote cannot be completed");
    return {};
}

QString apngProblem(const QString &path, int64_t frames)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("it wrote no file");
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty())
        return QStringLiteral("the file it wrote is empty");
    if (!bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return QStringLiteral("the file it wrote is not a PNG image");
    int64_t controls = 0;
    bool end = false;
    for (qsizetype at = 8; at + 12 <= bytes.size();) {
        const qsizetype size = qsizetype((uint32_t(uchar(bytes[at])) << 24) | (uint32_t(uchar(bytes[at + 1])) << 16)
            | (uint32_t(uchar(bytes[at + 2])) << 8) | uint32_t(uchar(bytes[at + 3])));
        const QByteArray kind = bytes.mid(at + 4, 4);
        if (at + 12 + size > bytes.size())
            break;
        controls += kind == "fcTL";
        end = end || kind == "IEND";
        at += 12 + size;
    }
    if (!end)
        return QStringLiteral("the file it wrote is not a complete PNG image");
    if (controls != frames)
        return QStringLiteral("the APNG it wrote holds %1 of %2 frames").arg(controls).arg(frames);
    return {};
}

QString webmProblem(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("it wrote no file");
    const QByteArray head = file.read(64);
    if (head.isEmpty())
        return QStringLiteral("the file it wrote is empty");
    if (!head.startsWith("\x1a\x45\xdf\xa3") || !head.contains("webm"))
        return QStringLiteral("the file it wrote is not a WebM video");
    return {};
}

} // namespace

QString encoderName(AnimatedFormat format);

namespace {

// What `ffmpeg` says it can write, of the formats above.
std::vector<AnimatedFormat> formatsOf(const QString &ffmpeg)
{
    QProcess process;
    process.start(ffmpeg, {QStringLiteral("-hide_banner"), QStringLiteral("-encoders")});
    if (!process.waitForFinished(10000))
        return {};
    // Lines such as " V....D libwebp_anim         libwebp WebP image".
    const QString listed = QString::fromUtf8(process.readAllStandardOutput());
    std::vector<AnimatedFormat> formats;
    for (const AnimatedFormat format : allAnimatedFormats) {
        const QString encoder = QLatin1Char(' ') + encoderName(format) + QLatin1Char(' ');
        for (const QString &line : listed.split(QLatin1Char('\n'))) {
            if (line.contains(encoder)) {
                formats.push_back(format);
                break;
            }
        }
    }
    return formats;
}

} // namespace

QString formatName(AnimatedFormat format)
{
    switch (format) {
    case AnimatedFormat::webp:
        return QStringLiteral("WebP");
    case AnimatedFormat::apng:
        return QStringLiteral("APNG");
    case AnimatedFormat::webm:
        break;
    }
    return QStringLiteral("WebM");
}

QString fileExtension(AnimatedFormat format)
{
    return formatName(format).toLower();
}

std::optional<AnimatedFormat> formatFromExtension(const QString &extension)
{
    for (const AnimatedFormat format : allAnimatedFormats) {
        if (fileExtension(format) == extension)
            return format;
    }
    return std::nullopt;
}

QString menuTitle(AnimatedFormat format)
{
    switch (format) {
    case AnimatedFormat::webp:
        return QStringLiteral("Animated WebP\u2026");
    case AnimatedFormat::apng:
        return QStringLiteral("Animated PNG (APNG)\u2026");
    case AnimatedFormat::webm:
        break;
    }
    return QStringLiteral("WebM Video (VP9)\u2026");
}

QString saveFilter(AnimatedFormat format)
{
    switch (format) {
    case AnimatedFormat::webp:
        return QStringLiteral("Animated WebP image (*.webp)");
    case AnimatedFormat::apng:
        return QStringLiteral("Animated PNG image (*.apng *.png)");
    case AnimatedFormat::webm:
        break;
    }
    return QStringLiteral("WebM video (*.webm)");
}

QString encoderName(AnimatedFormat format)
{
    switch (format) {
    case AnimatedFormat::webp:
        return QStringLiteral("libwebp_anim");
    case AnimatedFormat::apng:
        return QStringLiteral("apng");
    case AnimatedFormat::webm:
        break;
    }
    return QStringLiteral("libvpx-vp9");
}

bool canWrite(AnimatedFormat format)
{
    const std::optional<QString> ffmpeg = Tools::ffmpeg();
    if (!ffmpeg)
        return false;
    const std::vector<AnimatedFormat> formats = formatsOf(*ffmpeg);
    return std::find(formats.begin(), formats.end(), format) != formats.end();
}

std::vector<AnimatedFormat> writableFormats()
{
    const std::optional<QString> ffmpeg = Tools::ffmpeg();
    if (!ffmpeg)
        return {};
    static std::mutex mutex;
    static std::map<QString, std::vector<AnimatedFormat>> known;
    const std::lock_guard lock(mutex);
    const auto it = known.find(*ffmpeg);
    if (it != known.end())
        return it->second;
    return known[*ffmpeg] = formatsOf(*ffmpeg);
}

QStringList animatedArguments(AnimatedFormat format, GifQuality quality, int64_t loopCount, int64_t lastDelayMs,
    const QString &list, const QString &destination)
{
    QStringList arguments {QStringLiteral("-y"), QStringLiteral("-nostats"), QStringLiteral("-progress"),
        QStringLiteral("pipe:1"), QStringLiteral("-f"), QStringLiteral("concat"), QStringLiteral("-safe"),
        QStringLiteral("0"), QStringLiteral("-i"), list, QStringLiteral("-fps_mode"), QStringLiteral("vfr")};
    switch (format) {
    case AnimatedFormat::webp: {
        // Lossy at the everyday levels (a fraction of a GIF's size), lossless
        // at "Max".
        static const int webpQuality[] = {50, 70, 85, 100};
        arguments << QStringLiteral("-c:v") << QStringLiteral("libwebp_anim");
        if (quality == GifQuality::max)
            arguments << QStringLiteral("-lossless") << QStringLiteral("1");
        else
            arguments << QStringLiteral("-q:v") << QString::number(webpQuality[rawValue(quality)]);
        arguments << QStringLiteral("-loop") << playsText(loopCount) << QStringLiteral("-f") << QStringLiteral("webp");
        break;
    }
    case AnimatedFormat::apng:
        // Always lossless; the higher levels spend time on smaller files.
        arguments << QStringLiteral("-c:v") << QStringLiteral("apng") << QStringLiteral("-pred")
                  << (quality >= GifQuality::high ? QStringLiteral("mixed") : QStringLiteral("none"))
                  << QStringLiteral("-plays") << playsText(loopCount) << QStringLiteral("-final_delay")
                  << ExportTiming::secondsText(double(ExportTiming::gifDelayMs(lastDelayMs)) / 1000.0)
                  << QStringLiteral("-f") << QStringLiteral("apng");
        break;
    case AnimatedFormat::webm: {
        static const int webmCrf[] = {42, 36, 31, 24};
        arguments << QStringLiteral("-c:v") << QStringLiteral("libvpx-vp9") << QStringLiteral("-b:v")
                  << QStringLiteral("0") << QStringLiteral("-crf") << QString::number(webmCrf[rawValue(quality)])
                  << QStringLiteral("-deadline") << QStringLiteral("good") << QStringLiteral("-cpu-used")
                  << QStringLiteral("4") << QStringLiteral("-row-mt") << QStringLiteral("1")
                  << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p") << QStringLiteral("-f")
                  << QStringLiteral("webm");
        break;
    }
    }
    arguments << destination;
    return arguments;
}

ExportResult exportAnimated(AnimatedFormat format, const GifProject &project, const QString &destination,
    GifQuality quality, int64_t loopCount, ExportJob *job)
{
    const QString name = formatName(format);
    if (project.frames.empty())
        return {false, QStringLiteral("Nothing to export — project has no frames.")};
    const std::optional<QString> ffmpeg = Tools::ffmpeg();
    if (!ffmpeg)
        return {false, QStringLiteral("ffmpeg not found.")};
    PendingOutput::Opened opened = PendingOutput::open(destination);
    if (!opened.output)
        return ExportSteps::cannotCreate(name, opened.error);
    PendingOutput &output = *opened.output;
    const std::optional<FrameDir> staged = makeFrameDir(project, job, 0.4);
    // A video ends on its total through the repeated last frame; the image
    // formats are given each delay and settle the last one themselves.
    const QString list = format == AnimatedFormat::webm ? QStringLiteral("video.txt") : QStringLiteral("frames.txt");
    if (!staged
        || !writeStagedText(
            *staged, list, format == AnimatedFormat::webm ? videoConcatList(project) : imageConcatList(project))) {
        if (job && job->isCancelled())
            return ExportSteps::cancelled();
        return {false, QStringLiteral("Could not stage frames.")};
    }

    const int64_t frames = int64_t(project.frames.size());
    const QString prefix = QStringLiteral("ffmpeg %1 failed: ").arg(fileExtension(format));
    const Tools::RunResult run = Tools::run(*ffmpeg,
        animatedArguments(format, quality, loopCount, project.frames.back()->delayMs, list, output.path()),
        staged->dir(), job,
        ToolProgress::reader(job, ToolProgress::Tool::ffmpeg, frames + (format == AnimatedFormat::webm), 0.4, 1.0));
    if (run.status != 0 || run.cancelled)
        return ExportSteps::toolFailed(prefix, run);

    QString problem;
    switch (format) {
    case AnimatedFormat::webp: {
        int64_t total = 0;
        for (const GifFrameRef &frame : project.frames)
            total += ExportTiming::gifDelayMs(frame->delayMs);
        problem = settleWebP(output.path(), frames, total);
        break;
    }
    case AnimatedFormat::apng:
        problem = apngProblem(output.path(), frames);
        break;
    case AnimatedFormat::webm:
        problem = webmProblem(output.path());
        break;
    }
    const QString detail = format == AnimatedFormat::apng              ? QStringLiteral("lossless")
        : format == AnimatedFormat::webp && quality == GifQuality::max ? QStringLiteral("lossless")
                                                                       : QStringLiteral("lossy");
    return ExportSteps::finish(
        output, problem, prefix, QStringLiteral("Exported %1 (%2, %3).").arg(name, detail, label(quality)));
}

} // namespace GifExporter
