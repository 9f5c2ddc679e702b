#include "export/SizeEstimate.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>

namespace SizeEstimate {

Plan plan(size_t frames, size_t places, size_t runLength)
{
    Plan p;
    places = std::max<size_t>(places, 1);
    runLength = std::max<size_t>(runLength, 2);
    if (frames <= places * runLength) {
        p.whole = true;
        for (size_t i = 0; i < frames; ++i)
            p.runs.push_back(i);
        return p;
    }
    p.places = places;
    p.runLength = runLength;
    // Each place starts a stretch of equal length, its run at the stretch's
    // middle so that neither the project's first nor last frames weigh more.
    const double stretch = double(frames) / double(places);
    for (size_t place = 0; place < places; ++place) {
        const double middle = stretch * (double(place) + 0.5) - double(runLength) / 2.0;
        const size_t first = std::min(frames - runLength, size_t(std::max(0.0, std::floor(middle))));
        p.singles.push_back(first);
        for (size_t i = 0; i < runLength; ++i)
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

int64_t extrapolate(const Plan &plan, size_t frames, int64_t singlesBytes, int64_t runsBytes)
{
    if (plan.whole || plan.places == 0 || plan.runLength < 2)
        return runsBytes;
    const double first = double(singlesBytes) / double(plan.places);
    // Never below nothing: an encoder may write a run smaller than its single
    // frames when it merges identical ones.
    const double next = std::max(0.0, double(runsBytes - singlesBytes)) / double(plan.places * (plan.runLength - 1));
    return int64_t(std::llround(first + double(frames - 1) * next));
}

Samples takeSamples(const GifProject &project)
{
    Samples s;
    s.frames = project.frames.size();
    s.plan = plan(s.frames);
    s.runs = sample(project, s.plan.runs);
    if (!s.plan.whole)
        s.singles = sample(project, s.plan.singles);
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
    const std::optional<int64_t> runs = bytesOf(*samples.runs, QStringLiteral("runs"));
    if (!runs)
        return std::nullopt;
    if (samples.plan.whole)
        return runs;
    const std::optional<int64_t> singles = bytesOf(*samples.singles, QStringLiteral("singles"));
    if (!singles)
        return std::nullopt;
    return extrapolate(samples.plan, samples.frames, *singles, *runs);
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
