// Export paths side by side on the clips that clip_generator wrote: every GIF
// path (built-in, ffmpeg, gifski) at the qualities asked for, the MP4 path,
// and the staging of frames as PNG files. Each export runs once: at 300
// frames one run takes seconds, and the comparisons are between paths of the
// same run. The GIFs stay in the output folder, so that a script can decode
// them and compare them with the source frames.
//
// Beside them, the animated WebP, APNG and WebM paths, and the editor's size
// estimate of each path next to the file that path really wrote.
//
//   export_bench --clips=<dir> --out=<dir> [--clip=typing-640x420,...]
//                [--qualities=low,medium,high,max] [--builtin-qualities=high]
//                [--encoders=imageIO,ffmpeg,gifski] [--mp4=high]
//                [--animated=high] [--formats=webp,apng,webm]
//                [--estimates=high] [benchmark flags]
//
// Counters: bytes (output file size), cpu_children_s (CPU of the tools run by
// the export), frames; the staging benchmark reports seconds per frame; an
// estimate reports estimate_bytes.
#include "ClipFiles.h"

#include "export/AnimatedFormats.h"
#include "export/FrameStaging.h"
#include "export/GifExporter.h"
#include "export/SizeEstimate.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <map>
#include <memory>

namespace {

double childCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The beginning of the success message of each path: a silent fallback to
// another encoder would make the figure meaningless, so it is an error.
QString successPrefix(GifEncoder encoder)
{
    switch (encoder) {
    case GifEncoder::ffmpeg:
        return QStringLiteral("Exported with ffmpeg");
    case GifEncoder::gifski:
        return QStringLiteral("Exported with gifski");
    case GifEncoder::imageIO:
        break;
    }
    return QStringLiteral("Exported with built-in encoder");
}

struct Loaded {
    QString name;
    GifProjectRef project;
    QString outDir;
};

void reportFile(benchmark::State &state, const QString &path, double childCpu, size_t frames)
{
    state.counters["bytes"] = double(QFileInfo(path).size());
    state.counters["cpu_children_s"] = childCpu;
    state.counters["frames"] = double(frames);
}

void exportGifBench(benchmark::State &state, std::shared_ptr<Loaded> clip, GifEncoder encoder, GifQuality quality)
{
    const QString path = QStringLiteral("%1/%2-%3.gif").arg(clip->outDir, rawValue(encoder), caseName(quality));
    double childCpu = 0;
    for (auto _ : state) {
        const double before = childCpuSeconds();
        const ExportResult result = GifExporter::exportGif(*clip->project, path, ExportOptions(encoder, quality, 0));
        childCpu = childCpuSeconds() - before;
        if (!result.ok || !result.message.startsWith(successPrefix(encoder))) {
            state.SkipWithError(qPrintable(result.message));
            return;
        }
    }
    reportFile(state, path, childCpu, clip->project->frames.size());
}

void exportMp4Bench(benchmark::State &state, std::shared_ptr<Loaded> clip, GifQuality quality)
{
    const QString path = QStringLiteral("%1/mp4-%2.mp4").arg(clip->outDir, caseName(quality));
    double childCpu = 0;
    for (auto _ : state) {
        const double before = childCpuSeconds();
        const ExportResult result = GifExporter::exportMP4(*clip->project, path, quality);
        childCpu = childCpuSeconds() - before;
        if (!result.ok) {
            state.SkipWithError(qPrintable(result.message));
            return;
        }
    }
    reportFile(state, path, childCpu, clip->project->frames.size());
}

void animatedBench(
    benchmark::State &state, std::shared_ptr<Loaded> clip, GifExporter::AnimatedFormat format, GifQuality quality)
{
    const QString path = QStringLiteral("%1/anim-%2-%3.%4")
                             .arg(clip->outDir, GifExporter::fileExtension(format), caseName(quality),
                                 GifExporter::fileExtension(format));
    double childCpu = 0;
    for (auto _ : state) {
        const double before = childCpuSeconds();
        const ExportResult result = GifExporter::exportAnimated(format, *clip->project, path, quality, 0);
        childCpu = childCpuSeconds() - before;
        if (!result.ok) {
            state.SkipWithError(qPrintable(result.message));
            return;
        }
    }
    reportFile(state, path, childCpu, clip->project->frames.size());
}

// The estimate the editor would show for one path, written by the same code.
void estimateBench(benchmark::State &state, std::shared_ptr<Loaded> clip, QString extension, SizeEstimate::Writer write,
    SizeEstimate::Shape shape)
{
    int64_t bytes = 0;
    for (auto _ : state) {
        const SizeEstimate::Samples samples = SizeEstimate::takeSamples(*clip->project, shape);
        ExportJob job;
        const std::optional<int64_t> estimate = SizeEstimate::estimate(samples, extension, write, job);
        if (!estimate) {
            state.SkipWithError("The samples could not be written.");
            return;
        }
        bytes = *estimate;
    }
    state.counters["estimate_bytes"] = double(bytes);
}

void stagingBench(benchmark::State &state, std::shared_ptr<Loaded> clip)
{
    for (auto _ : state) {
        const std::optional<GifExporter::FrameDir> staged = GifExporter::makeFrameDir(*clip->project);
        if (!staged) {
            state.SkipWithError("Could not stage frames.");
            return;
        }
        // Removing the folder is part of every export's cost as well.
    }
    const double frames = double(clip->project->frames.size());
    state.counters["frames"] = frames;
    state.counters["per_frame"] = benchmark::Counter(
        frames * double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// What staging cost before it used every core and wrote straight from the
// frame's rows: Qt's PNG writer, one frame after the other. Kept as the
// baseline the table compares against.
void stagingQtBench(benchmark::State &state, std::shared_ptr<Loaded> clip)
{
    for (auto _ : state) {
        QTemporaryDir dir;
        for (size_t i = 0; i < clip->project->frames.size(); ++i) {
            QImageWriter writer(dir.filePath(GifExporter::frameFileName(qsizetype(i))), "png");
            writer.setCompression(1);
            if (!writer.write(clip->project->frames[i]->image())) {
                state.SkipWithError("Could not write a PNG file.");
                return;
            }
        }
    }
    const double frames = double(clip->project->frames.size());
    state.counters["frames"] = frames;
}

template <typename T, typename F> std::vector<T> parseList(const QString &text, F &&parse)
{
    std::vector<T> out;
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const std::optional<T> value = parse(item.trimmed());
        if (!value) {
            std::fprintf(stderr, "export_bench: unknown value \"%s\"\n", qPrintable(item));
            std::exit(2);
        }
        out.push_back(*value);
    }
    return out;
}

std::optional<GifQuality> qualityFromName(const QString &name)
{
    for (GifQuality q : allGifQualities) {
        if (caseName(q) == name)
            return q;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    std::map<QString, QString> flags {{QStringLiteral("clips"), QString()}, {QStringLiteral("out"), QString()},
        {QStringLiteral("clip"), QString()}, {QStringLiteral("qualities"), QStringLiteral("low,medium,high,max")},
        {QStringLiteral("builtin-qualities"), QStringLiteral("high")},
        {QStringLiteral("encoders"), QStringLiteral("imageIO,ffmpeg,gifski")},
        {QStringLiteral("mp4"), QStringLiteral("high")}, {QStringLiteral("animated"), QStringLiteral("high")},
        {QStringLiteral("formats"), QStringLiteral("webp,apng,webm")}, {QStringLiteral("estimates"), QString()},
        {QStringLiteral("estimate-plan"), QString()}};
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        const QString key = arg.mid(2, eq - 2);
        if (!arg.startsWith(QLatin1String("--")) || eq < 0 || !flags.count(key)) {
            std::fprintf(stderr, "export_bench: unknown argument %s\n", argv[i]);
            return 2;
        }
        flags[key] = arg.mid(eq + 1);
    }
    if (flags[QStringLiteral("clips")].isEmpty() || flags[QStringLiteral("out")].isEmpty()) {
        std::fprintf(stderr, "export_bench: --clips=<dir> and --out=<dir> are needed\n");
        return 2;
    }

    QStringList clipNames = flags[QStringLiteral("clip")].split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (clipNames.isEmpty())
        clipNames = QDir(flags[QStringLiteral("clips")]).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    const auto encoders = parseList<GifEncoder>(flags[QStringLiteral("encoders")], gifEncoderFromRaw);
    const auto qualities = parseList<GifQuality>(flags[QStringLiteral("qualities")], qualityFromName);
    const auto builtInQualities = parseList<GifQuality>(flags[QStringLiteral("builtin-qualities")], qualityFromName);
    const auto mp4Qualities = parseList<GifQuality>(flags[QStringLiteral("mp4")], qualityFromName);
    // "4x8x24" (places, short run, long run): another shape for every
    // estimate than the editor's own, to try one out.
    const QStringList shapeText = flags[QStringLiteral("estimate-plan")].split(QLatin1Char('x'));
    const auto estimateShape = [&](const QString &extension) {
        SizeEstimate::Shape shape = SizeEstimate::shapeFor(extension);
        if (shapeText.size() == 3) {
            shape.places = shapeText[0].toULongLong();
            shape.shortRun = shapeText[1].toULongLong();
            shape.runLength = shapeText[2].toULongLong();
        }
        return shape;
    };
    const auto animatedQualities = parseList<GifQuality>(flags[QStringLiteral("animated")], qualityFromName);
    const auto estimateQualities = parseList<GifQuality>(flags[QStringLiteral("estimates")], qualityFromName);
    const auto formats
        = parseList<GifExporter::AnimatedFormat>(flags[QStringLiteral("formats")], GifExporter::formatFromExtension);

    for (const QString &name : clipNames) {
        QString error;
        auto clip = std::make_shared<Loaded>();
        clip->name = name;
        clip->project = ClipFiles::load(flags[QStringLiteral("clips")] + QLatin1Char('/') + name, &error);
        if (!clip->project) {
            std::fprintf(stderr, "export_bench: %s\n", qPrintable(error));
            return 1;
        }
        clip->outDir = flags[QStringLiteral("out")] + QLatin1Char('/') + name;
        if (!QDir().mkpath(clip->outDir)) {
            std::fprintf(stderr, "export_bench: cannot make %s\n", qPrintable(clip->outDir));
            return 1;
        }
        const std::string prefix = name.toStdString();
        benchmark::RegisterBenchmark((prefix + "/staging").c_str(), stagingBench, clip)
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((prefix + "/staging-qt").c_str(), stagingQtBench, clip)
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        for (GifEncoder encoder : encoders) {
            for (GifQuality quality : encoder == GifEncoder::imageIO ? builtInQualities : qualities) {
                const std::string benchName
                    = prefix + "/gif/" + rawValue(encoder).toStdString() + "/" + caseName(quality).toStdString();
                benchmark::RegisterBenchmark(benchName.c_str(), exportGifBench, clip, encoder, quality)
                    ->Iterations(1)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
        for (GifQuality quality : mp4Qualities) {
            benchmark::RegisterBenchmark(
                (prefix + "/mp4/" + caseName(quality).toStdString()).c_str(), exportMp4Bench, clip, quality)
                ->Iterations(1)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
        }
        for (GifExporter::AnimatedFormat format : formats) {
            for (GifQuality quality : animatedQualities) {
                const std::string benchName = prefix + "/anim/" + GifExporter::fileExtension(format).toStdString() + "/"
                    + caseName(quality).toStdString();
                benchmark::RegisterBenchmark(benchName.c_str(), animatedBench, clip, format, quality)
                    ->Iterations(1)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
        // Estimates of the paths this run writes, named like the rows of
        // the files they estimate.
        for (GifQuality quality : estimateQualities) {
            const auto add = [&](const std::string &key, const QString &extension, SizeEstimate::Writer write) {
                benchmark::RegisterBenchmark((prefix + "/estimate/" + key).c_str(), estimateBench, clip, extension,
                    std::move(write), estimateShape(extension))
                    ->Iterations(1)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
            };
            for (GifEncoder encoder : encoders) {
                add("gif/" + rawValue(encoder).toStdString() + "/" + caseName(quality).toStdString(),
                    QStringLiteral("gif"),
                    [encoder, quality](const GifProject &p, const QString &path, ExportJob &job) {
                        return GifExporter::exportGif(p, path, ExportOptions(encoder, quality, 0), &job);
                    });
            }
            add("mp4/" + caseName(quality).toStdString(), QStringLiteral("mp4"),
                [quality](const GifProject &p, const QString &path, ExportJob &job) {
                    return GifExporter::exportMP4(p, path, quality, &job);
                });
            for (GifExporter::AnimatedFormat format : formats) {
                add("anim/" + GifExporter::fileExtension(format).toStdString() + "/" + caseName(quality).toStdString(),
                    GifExporter::fileExtension(format),
                    [format, quality](const GifProject &p, const QString &path, ExportJob &job) {
                        return GifExporter::exportAnimated(format, p, path, quality, 0, &job);
                    });
            }
        }
    }

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
