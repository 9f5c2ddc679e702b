// The frame store on the benchmark clips: what a kept frame costs in resident
// memory and on disk, what keeping it costs the caller and the machine, how
// long a frame takes to read back, and crop and resize of 3,000 frames.
//
//   store_bench [--clips=typing,scrolling,video] [--sizes=1280x840,1920x1080]
//               [Google Benchmark options]
//
// Each clip is drawn in full before it is stored (2.5 GB at 1920 x 1080), so
// that drawing costs nothing in the figures and the store keeps references to
// the pictures without copies, as it does with screen grabs.
#include "ClipScenes.h"

#include "model/ImageOps.h"
#include "store/FrameStore.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    double pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * double(::sysconf(_SC_PAGESIZE));
}

double processCpuSeconds()
{
    timespec t {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

std::vector<QImage> drawClip(const QString &name, QSize size)
{
    const std::optional<ClipScenes::Clip> clip = ClipScenes::make(name, size);
    std::vector<QImage> frames;
    frames.reserve(ClipScenes::FRAMES);
    for (int i = 0; i < ClipScenes::FRAMES; ++i)
        frames.push_back(clip->frame(i));
    return frames;
}

// One clip through a new store: memory, disk, write cost, then reads.
void BM_StoreClip(benchmark::State &state, const QString &name, QSize size)
{
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<QImage> pictures = drawClip(name, size);
        const double rawBytes = double(size.width()) * size.height() * 4;
        QTemporaryDir dir;
        FrameStore::Options options;
        options.root = dir.path();
        options.cacheBytes = 1; // nothing decoded is kept: the store alone is measured
        FrameStore::Created created = FrameStore::create(RecordingInfo {}, options);
        if (!created.store) {
            state.SkipWithError("cannot create a store");
            return;
        }
        FrameStore &store = *created.store;
        FrameRefList frames;
        frames.reserve(pictures.size());

        // Writing. The resident growth is taken from frame WARM_UP on, past
        // the threads' one-time buffers: the slope is what every further
        // frame costs.
        constexpr int WARM_UP = 30;
        std::vector<double> appendSeconds;
        double rssAtWarmUp = 0, peak = 0;
        const double rssStart = residentBytes();
        const double cpuStart = processCpuSeconds();
        const Clock::time_point start = Clock::now();
        for (size_t i = 0; i < pictures.size(); ++i) {
            if (int(i) == WARM_UP) {
                store.waitForWrites();
                rssAtWarmUp = residentBytes();
            }
            const Clock::time_point before = Clock::now();
            frames.push_back(store.append(pictures[i], double(i) / 30.0));
            appendSeconds.push_back(seconds(Clock::now() - before));
            peak = std::max(peak, residentBytes());
        }
        store.waitForWrites();
        const double writeWall = seconds(Clock::now() - start);
        const double writeCpu = processCpuSeconds() - cpuStart;
        const double rssEnd = residentBytes();
        const FrameStore::Stats stats = store.stats();
        const double kept = double(pictures.size() - WARM_UP);
        std::nth_element(
            appendSeconds.begin(), appendSeconds.begin() + long(appendSeconds.size() / 2), appendSeconds.end());

        // The source pictures go; frames now exist only in the store.
        pictures.clear();
        pictures.shrink_to_fit();

        // Reading any frame with an empty cache, in a random order; then
        // playing the clip forwards through a cache of the default size.
        std::mt19937 random(5);
        std::vector<size_t> order(frames.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::shuffle(order.begin(), order.end(), random);
        order.resize(60);
        // Nothing else runs in the process now, so its CPU time is what the
        // reads cost, whatever else shares the machine's cores.
        double decodeSum = 0, decodeWorst = 0, decodeCpu = 0;
        for (size_t i : order) {
            const Clock::time_point before = Clock::now();
            const double cpuBefore = processCpuSeconds();
            const QImage image = frames[i]->image();
            decodeCpu += processCpuSeconds() - cpuBefore;
            const double s = seconds(Clock::now() - before);
            benchmark::DoNotOptimize(image.constBits());
            decodeSum += s;
            decodeWorst = std::max(decodeWorst, s);
        }
        store.setCacheBudget(0);
        const Clock::time_point playStart = Clock::now();
        for (const FrameRef &frame : frames)
            benchmark::DoNotOptimize(frame->image().constBits());
        const double play = seconds(Clock::now() - playStart) / double(frames.size());
        state.ResumeTiming();

        state.counters["frames"] = double(frames.size());
        state.counters["raw_bytes"] = rawBytes;
        state.counters["rss_ratio"] = (rssEnd - rssAtWarmUp) / kept / rawBytes;
        state.counters["rss_peak_bytes"] = peak - rssStart;
        state.counters["disk_ratio"] = double(stats.bytesWritten) / double(stats.framesWritten) / rawBytes;
        state.counters["key_frames"] = double(stats.keyFrames);
        state.counters["append_median_s"] = appendSeconds[appendSeconds.size() / 2];
        state.counters["write_cpu_per_frame_s"] = writeCpu / double(frames.size());
        state.counters["write_wall_per_frame_s"] = writeWall / double(frames.size());
        state.counters["decode_random_mean_s"] = decodeSum / double(order.size());
        state.counters["decode_random_worst_s"] = decodeWorst;
        state.counters["decode_random_cpu_s"] = decodeCpu / double(order.size());
        state.counters["decode_playing_s"] = play;
    }
}

void BM_Memcpy(benchmark::State &state)
{
    const std::size_t bytes = std::size_t(state.range(0)) * std::size_t(state.range(1)) * 4;
    std::vector<char> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
}

// 3,000 frames of 640 x 420 typing (the clip ten times over) in a store, then
// every frame cropped or resized as the editor does, written through the
// store on every core. Timed until the last new frame is on disk.
void BM_TransformAll(benchmark::State &state, bool crop)
{
    const QSize size(640, 420);
    QTemporaryDir dir;
    FrameStore::Options options;
    options.root = dir.path();
    FrameStore::Created created = FrameStore::create(RecordingInfo {}, options);
    FrameRefList frames;
    {
        const std::vector<QImage> pictures = drawClip(QStringLiteral("typing"), size);
        for (int i = 0; i < 3000; ++i)
            frames.push_back(created.store->append(pictures[size_t(i) % pictures.size()]));
        created.store->waitForWrites();
    }
    const auto op = [crop](const QImage &image) {
        return crop ? ImageOps::crop(image, QRectF(40, 30, 560, 360)) : ImageOps::resize(image, QSizeF(320, 210));
    };
    for (auto _ : state) {
        const std::optional<FrameRefList> out = created.store->transformAll(frames, op);
        created.store->waitForWrites();
        if (!out)
            state.SkipWithError("the transform failed");
    }
    state.counters["frames"] = double(frames.size());
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList clips = ClipScenes::names();
    QList<QSize> sizes = {QSize(1280, 840), QSize(1920, 1080)};
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.startsWith(QLatin1String("--clips="))) {
            clips = arg.mid(8).split(QLatin1Char(','));
        } else if (arg.startsWith(QLatin1String("--sizes="))) {
            sizes.clear();
            for (const QString &s : arg.mid(8).split(QLatin1Char(',')))
                sizes.push_back(
                    QSize(s.section(QLatin1Char('x'), 0, 0).toInt(), s.section(QLatin1Char('x'), 1).toInt()));
        } else {
            rest.push_back(argv[i]);
        }
    }
    for (const QSize &size : sizes) {
        for (const QString &clip : clips) {
            const std::string name
                = QStringLiteral("BM_StoreClip/%1-%2x%3").arg(clip).arg(size.width()).arg(size.height()).toStdString();
            benchmark::RegisterBenchmark(name.c_str(), BM_StoreClip, clip, size)
                ->Unit(benchmark::kMillisecond)
                ->Iterations(1);
        }
        benchmark::RegisterBenchmark("BM_Memcpy", BM_Memcpy)
            ->Args({size.width(), size.height()})
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("BM_TransformAll/crop", BM_TransformAll, true)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(2);
    benchmark::RegisterBenchmark("BM_TransformAll/resize", BM_TransformAll, false)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(2);
    int count = int(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
