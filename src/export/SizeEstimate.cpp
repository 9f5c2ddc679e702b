#include "export/SizeEstimate.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>

namespace SizeEstimate {

Shape shapeFor(const QString &extension)
{
    // Measured on the benchmark clips (bench/README.md): with single frames
    // and five-frame runs x264 and VP9 came out at up to 2.4 times the real
    // size on scrolling content, and with runs of 24 at two thirds of it on
    // typing, where a long export's few keyframes carry most of the bytes.
    // The keyframe intervals are x264's and libvpx's defaults, which the
    // export leaves alone.
    if (extension == QLatin1String("mp4"))
        return {2, 8, 64, 250};
    if (extension == QLatin1String("webm"))
        return {3, 16, 48, 128};
    return {};
}

Plan plan(size_t frames, Shape shape)
{
    Plan p;
    shape.places = std::max<size_t>(shape.places, 1);
    shape.runLength = std::max<size_t>(shape.runLength, 2);
    shape.shortRun = std::clamp<size_t>(shape.shortRun, 1, shape.runLength - 1);
    if (frames <= shape.places * shape.runLength) {
        p.whole = true;
        for (size_t i = 0; i < frames; ++i)
            p.runs.push_back(i);
        return p;
    }
    p.places = shape.places;
    p.shortRun = shape.shortRun;
    p.runLength = shape.runLength;
    p.keyframeInterval = shape.keyframeInterval;
    // Each place starts a stretch of equal length, its run at the stretch's
    // middle so that neither the project's first nor last frames weigh more.
    const double stretch = double(frames) / double(p.places);
    for (size_t place = 0; place < p.places; ++place) {
        const double middle = stretch * (double(place) + 0.5) - double(p.runLength) / 2.0;
        const size_t first = std::min(frames - p.runLength, size_t(std::max(0.0, std::floor(middle))));
        for (size_t i = 0; i < p.shortRun; ++i)
            p.shortRuns.push_back(first + i);
        for (size_t i = 0; i < p.runLength; ++i)
            p.runs.push_back(first + i);
    }
    return p;
}

GifProjectRef sample(const GifProject &project, const std::vector<size_t> &indices)
{
    GifFrameList frames;
    frames.reserve(indices.size());
    for (const size_t i : indices) {
        if (i < project.frames.size())
            frames.push_back(project.frames[i]->copy());
    }
    return std::make_shared<GifProject>(std::move(frames), project.fps, project.loopCount);
}

int64_t extrapolate(const Plan &plan, size_t frames, int64_t shortBytes, int64_t longBytes)
{
    if (plan.whole || plan.places == 0 || plan.runLength <= plan.shortRun)
        return longBytes;
    const double first = double(shortBytes) / double(plan.places);
    // Never below nothing: an encoder may write a long run smaller than the
    // short ones when it merges identical frames.
    const double next
        = std::max(0.0, double(longBytes - shortBytes)) / double(plan.places * (plan.runLength - plan.shortRun));
    const double keyframe = std::max(0.0, first - double(plan.shortRun - 1) * next - next);
    const double keyframes = plan.keyframeInterval ? double((frames - 1) / plan.keyframeInterval) : 0.0;
    return int64_t(std::llround(first + double(frames - plan.shortRun) * next + keyframes * keyframe));
}

Samples takeSamples(const GifProject &project, Shape shape)
{
    Samples s;
    s.frames = project.frames.size();
    s.plan = plan(s.frames, shape);
    s.runs = sample(project, s.plan.runs);
    if (!s.plan.whole)
        s.shortRuns = sample(project, s.plan.shortRuns);
    return s;
}

std::optional<int64_t> estimate(const Samples &samples, const QString &extension, const Writer &write, ExportJob &job)
{
    if (!samples.runs || samples.runs->frames.empty())
        return std::nullopt;
    const QTemporaryDir dir;
    if (!dir.isValid())
        return std::nullopt;
    const auto bytesOf = [&](const GifProject &project, const QString &name) -> std::optional<int64_t> {
        if (job.isCancelled())
            return std::nullopt;
        const QString path = dir.filePath(name + QLatin1Char('.') + extension);
        if (!write(project, path, job).ok)
            return std::nullopt;
        return QFileInfo(path).size();
    };
    const std::optional<int64_t> runs = bytesOf(*samples.runs, QStringLiteral("long"));
    if (!runs)
        return std::nullopt;
    if (samples.plan.whole)
        return runs;
    const std::optional<int64_t> shortRuns = bytesOf(*samples.shortRuns, QStringLiteral("short"));
    if (!shortRuns)
        return std::nullopt;
    return extrapolate(samples.plan, samples.frames, *shortRuns, *runs);
}

QString sizeText(int64_t bytes)
{
    const auto figure = [](double value, const char *unit) -> QString {
        const QString number = value < 9.95 ? QString::number(value, 'f', 1) : QString::number(std::llround(value));
        return number + QLatin1Char(' ') + QLatin1String(unit);
    };
    if (bytes < 1000)
        return QString::number(std::max<int64_t>(bytes, 0)) + QStringLiteral(" bytes");
    // Where the rounded figure would read "1000", the next unit reads "1.0".
    if (bytes < 999'500)
        return figure(double(bytes) / 1e3, "kB");
    if (bytes < 999'500'000)
        return figure(double(bytes) / 1e6, "MB");
    return figure(double(bytes) / 1e9, "GB");
}

} // namespace SizeEstimate
