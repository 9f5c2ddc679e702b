#include "store/FrameStore.h"

#include "base/ParallelFor.h"
#include "base/SerialQueue.h"
#include "base/Settings.h"
#include "store/DecodedCache.h"
#include "store/FrameCodec.h"
#include "store/RecordingFiles.h"
#include "store/Recordings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <unordered_map>

namespace {

using namespace RecordingFiles;

// zstd level 1: level 3 saves about 10 % of the bytes at 1.2 to 1.4 times the
// compression time, which the capture of a 60 fps recording cannot spare.
constexpr int ZSTD_LEVEL = 1;
// A key frame starts once the deltas since the last one would cost about a
// third of a key frame to decode on top of it, so that reading any frame
// without help from the cache costs at most about 1.35 key frames. Deltas of typing cost
// almost nothing per pixel but about 0.1 ms each to find, read and unpack, so
// chains end after MAX_CHAIN deltas anyway (typing: a key every 25 frames,
// 0.1 % of the pixel bytes a frame); noisy video gets a key nearly every
// other frame, which costs little since its deltas are as large as keys.
constexpr double KEY_BUDGET = 0.35;
constexpr int MAX_CHAIN = 24;
// What a delta is assumed to cost before any has been coded, in key frames.
constexpr double UNKNOWN_DELTA_COST = 0.1;
// Records are synced at least this often while a recording runs, so that a
// power cut loses at most about this much of it.
constexpr auto SYNC_INTERVAL = std::chrono::seconds(1);

bool keepsLayout(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
}

FrameCodec::View viewOf(const QImage &image)
{
    return {reinterpret_cast<const uint32_t *>(image.constBits()), image.width(), image.height(),
        image.bytesPerLine() / 4, image.format() == QImage::Format_RGB32};
}

// A frame that arrived as Format_RGB32 in the form every reader gets: alpha
// bytes set, Format_ARGB32_Premultiplied.
QImage readable(const QImage &raw)
{
    if (raw.format() == QImage::Format_ARGB32_Premultiplied)
        return raw;
    QImage out(raw.size(), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < raw.height(); ++y) {
        const auto *src = reinterpret_cast<const uint32_t *>(raw.constScanLine(y));
        auto *dst = reinterpret_cast<uint32_t *>(out.scanLine(y));
        for (int x = 0; x < raw.width(); ++x)
            dst[x] = src[x] | 0xff000000u;
    }
    return out;
}

int64_t nominalDelayMs(int64_t fps)
{
    return static_cast<int64_t>(1000.0 / double(std::max<int64_t>(fps, 1)));
}

QString recordingFolderName(const QDateTime &created, int attempt)
{
    QString name
        = created.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + QLatin1Char('-') + QString::number(::getpid());
    if (attempt > 0)
        name += QLatin1Char('-') + QString::number(attempt);
    return name;
}

} // namespace

struct FrameStore::Impl {
    struct Entry {
        QSize size;
        uint64_t refId = 0; // 0 for a key
        std::optional<int64_t> timestampUs;
        // Until the record is on disk the pixels stay here, so that the frame
        // reads at once and survives a failed write.
        QImage raw;
        bool written = false;
        std::size_t segment = 0; // into segments
        int64_t payloadOffset = 0;
        uint32_t payloadSize = 0;
        uint32_t payloadCrc = 0;
    };

    struct Segment {
        uint32_t number = 0;
        int fd = -1;
    };

    // A frame on its way from the pool to the writer.
    struct Encoded {
        uint64_t id = 0;
        bool skip = false; // an id that a cancelled transform never filled
        RecordHeader header;
        QByteArray payload;
    };

    // Choosing key frames for frames coded one after another. The cost of a
    // delta is known only once the pool has coded it, and a recording runs
    // ahead of the pool, so deltas still under way count with the recent
    // typical cost and are settled when their real cost comes back.
    struct ChainPlan {
        QImage previous;
        uint64_t previousId = 0;
        uint64_t generation = 0;
        double cost = 0; // since the chain's key, in key frames
        int length = 0;
        double typicalDelta = UNKNOWN_DELTA_COST;

        // Whether the next frame is a key; updates the plan. Returns the
        // estimate a delta was counted with.
        double next(const QImage &picture, bool &key)
        {
            key = previous.isNull() || previous.size() != picture.size() || length >= MAX_CHAIN || cost >= KEY_BUDGET;
            if (key) {
                ++generation;
                cost = 0;
                length = 0;
                return 0;
            }
            cost += typicalDelta;
            ++length;
            return typicalDelta;
        }
        void settle(uint64_t gen, double estimate, double actual)
        {
            typicalDelta = 0.75 * typicalDelta + 0.25 * actual;
            if (gen == generation)
                cost += actual - estimate;
        }
    };

    FrameStore *owner = nullptr;
    QString folder;
    Options options;
    RecordingInfo info;
    int lockFd = -1;

    mutable std::mutex mutex; // guards everything below up to the writer's own state
    std::condition_variable changed;
    std::unordered_map<uint64_t, Entry> table;
    std::vector<Segment> segments; // the write segment, once made, is the last
    uint32_t writeSegmentNumber = 0;
    bool writeSegmentOpen = false;
    uint64_t nextId = 1;
    uint64_t doneBelow = 1; // every id below is written or skipped
    uint64_t generation = 0;
    bool indexWaiting = false;
    int64_t pendingBytes = 0;
    ChainPlan recordingPlan;
    std::optional<StoreError> error;
    bool discarded = false;
    Stats stats;

    // Writer thread only.
    std::map<uint64_t, Encoded> ready;
    std::optional<std::pair<StoredIndex, uint64_t>> pendingIndex; // index, the largest id it needs
    int64_t writeOffset = 0;
    bool unsynced = false;
    std::chrono::steady_clock::time_point lastSync = std::chrono::steady_clock::now();

    DecodedCache cache;
    QThreadPool pool;
    SerialQueue writer {QStringLiteral("org.quillo.Quillo.store")};

    ~Impl()
    {
        pool.waitForDone();
        writer.sync([this] { syncData(); });
        for (const Segment &s : segments)
            ::close(s.fd);
        if (lockFd >= 0)
            ::close(lockFd);
    }

    void fail(const StoreError &e)
    {
        {
            std::lock_guard lock(mutex);
            if (error)
                return;
            error = e;
        }
        changed.notify_all();
        if (owner->onError)
            owner->onError(e);
    }

    // ---- writing (writer thread) ----

    bool openWriteSegment()
    {
        const QString path = folder + QLatin1Char('/') + segmentName(writeSegmentNumber);
        const int fd
            = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) {
            fail(errnoError(errno, QStringLiteral("Cannot write"), path));
            return false;
        }
        std::lock_guard lock(mutex);
        segments.push_back({writeSegmentNumber, fd});
        writeSegmentOpen = true;
        writeOffset = 0;
        return true;
    }

    void writeRecord(Encoded &e)
    {
        bool stop = false;
        {
            std::lock_guard lock(mutex);
            stop = error.has_value() || discarded;
        }
        if (stop || (!writeSegmentOpen && !openWriteSegment()))
            return;
        const int fd = segments.back().fd;
        const QByteArray head = encodeHeader(e.header);
        iovec parts[2] = {{const_cast<char *>(head.constData()), std::size_t(head.size())},
            {e.payload.data(), std::size_t(e.payload.size())}};
        const std::size_t total = std::size_t(head.size()) + std::size_t(e.payload.size());
        std::size_t done = 0;
        while (done < total) {
            // Re-aim the vector after a short write.
            iovec rest[2];
            int count = 0;
            std::size_t skip = done;
            for (const iovec &p : parts) {
                if (skip >= p.iov_len) {
                    skip -= p.iov_len;
                    continue;
                }
                rest[count++] = {static_cast<char *>(p.iov_base) + skip, p.iov_len - skip};
                skip = 0;
            }
            const ssize_t n = ::writev(fd, rest, count);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                const int code = n < 0 ? errno : ENOSPC;
                // Leave no torn record behind a failure that the process
                // survives; a kill leaves one, and reading skips it.
                if (::ftruncate(fd, writeOffset) != 0) { }
                fail(errnoError(
                    code, QStringLiteral("Cannot write"), folder + QLatin1Char('/') + segmentName(writeSegmentNumber)));
                return;
            }
            done += std::size_t(n);
        }
        {
            std::lock_guard lock(mutex);
            Entry &entry = table[e.id];
            entry.written = true;
            entry.segment = segments.size() - 1;
            entry.payloadOffset = writeOffset + int64_t(RecordHeader::SIZE);
            entry.payloadSize = e.header.payloadSize;
            entry.payloadCrc = e.header.payloadCrc;
            pendingBytes -= entry.raw.sizeInBytes();
            entry.raw = QImage();
            ++stats.framesWritten;
            stats.keyFrames += e.header.refId == 0;
            stats.bytesWritten += int64_t(total);
        }
        writeOffset += int64_t(total);
        unsynced = true;
    }

    void syncData()
    {
        if (!unsynced || segments.empty() || !writeSegmentOpen)
            return;
        ::fdatasync(segments.back().fd);
        unsynced = false;
        lastSync = std::chrono::steady_clock::now();
    }

    void receive(Encoded e)
    {
        ready.emplace(e.id, std::move(e));
        uint64_t below = 0;
        {
            std::lock_guard lock(mutex);
            below = doneBelow;
        }
        while (!ready.empty() && ready.begin()->first == below) {
            Encoded next = std::move(ready.begin()->second);
            ready.erase(ready.begin());
            if (!next.skip)
                writeRecord(next);
            ++below;
        }
        {
            std::lock_guard lock(mutex);
            doneBelow = below;
        }
        if (std::chrono::steady_clock::now() - lastSync >= SYNC_INTERVAL)
            syncData();
        writeIndexWhenReady();
        changed.notify_all();
    }

    void writeIndexWhenReady()
    {
        if (!pendingIndex)
            return;
        bool stop = false;
        uint64_t below = 0;
        {
            std::lock_guard lock(mutex);
            stop = error.has_value() || discarded;
            below = doneBelow;
        }
        if (!stop && pendingIndex->second >= below)
            return; // its frames are not all on disk yet
        if (!stop) {
            syncData();
            if (const std::optional<StoreError> e = replaceDurably(folder, QLatin1String(INDEX_NAME),
                    QLatin1String(INDEX_TEMP_NAME), encodeIndex(pendingIndex->first)))
                fail(*e);
        }
        pendingIndex.reset();
        {
            std::lock_guard lock(mutex);
            indexWaiting = false;
        }
        changed.notify_all();
    }

    // ---- coding (pool threads) ----

    Encoded encode(uint64_t id, uint64_t refId, const QImage &picture, const QImage &previous,
        std::optional<int64_t> timestampUs, double &cost)
    {
        thread_local FrameCodec::Scratch scratch;
        const FrameCodec::Encoded coded = refId == 0
            ? FrameCodec::encodeKey(viewOf(picture), ZSTD_LEVEL, scratch)
            : FrameCodec::encodeDelta(viewOf(picture), viewOf(previous), ZSTD_LEVEL, scratch);
        cost = coded.decodeCost / (double(picture.width()) * double(picture.height()));
        Encoded e;
        e.id = id;
        e.payload = coded.payload;
        e.header.id = id;
        e.header.refId = refId;
        e.header.timestampUs = timestampUs;
        e.header.width = uint32_t(picture.width());
        e.header.height = uint32_t(picture.height());
        e.header.payloadSize = uint32_t(e.payload.size());
        e.header.payloadCrc = crc32(e.payload.constData(), std::size_t(e.payload.size()));
        e.header.opaque = picture.format() == QImage::Format_RGB32;
        return e;
    }

    // ---- reading (any thread) ----

    std::optional<QByteArray> readPayload(const Entry &entry, uint64_t id)
    {
        int fd = -1;
        uint32_t number = 0;
        {
            std::lock_guard lock(mutex);
            fd = segments[entry.segment].fd;
            number = segments[entry.segment].number;
        }
        QByteArray bytes(qsizetype(entry.payloadSize), Qt::Uninitialized);
        std::size_t got = 0;
        while (got < entry.payloadSize) {
            const ssize_t n
                = ::pread(fd, bytes.data() + got, entry.payloadSize - got, entry.payloadOffset + int64_t(got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                fail(errnoError(n < 0 ? errno : EIO, QStringLiteral("Cannot read"),
                    folder + QLatin1Char('/') + segmentName(number)));
                return std::nullopt;
            }
            got += std::size_t(n);
        }
        if (crc32(bytes.constData(), got) != entry.payloadCrc) {
            fail(StoreError {StoreError::Kind::damaged,
                QStringLiteral("Frame %1 of the recording in %2 is damaged").arg(id).arg(folder)});
            return std::nullopt;
        }
        return bytes;
    }

    QImage decode(uint64_t id)
    {
        if (std::optional<QImage> hit = cache.find(id))
            return *hit;
        // Walk back to something whole: a cached frame, pixels not yet
        // written, or a key frame.
        std::vector<std::pair<uint64_t, Entry>> chain;
        QImage base;
        uint64_t at = id;
        while (true) {
            Entry entry;
            {
                std::lock_guard lock(mutex);
                const auto it = table.find(at);
                if (it == table.end())
                    return {};
                entry = it->second;
            }
            if (!entry.raw.isNull()) {
                base = readable(entry.raw);
                break;
            }
            if (at != id) {
                if (std::optional<QImage> hit = cache.find(at)) {
                    base = *hit;
                    break;
                }
            }
            chain.emplace_back(at, entry);
            if (entry.refId == 0)
                break;
            at = entry.refId;
        }
        QImage image = base.isNull() ? QImage() : base.copy();
        thread_local std::vector<uint8_t> scratch;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            const Entry &entry = it->second;
            if (image.isNull() || image.size() != entry.size)
                image = QImage(entry.size, QImage::Format_ARGB32_Premultiplied);
            const std::optional<QByteArray> payload = readPayload(entry, it->first);
            if (!payload)
                return {};
            if (!FrameCodec::decode(payload->constData(), std::size_t(payload->size()),
                    reinterpret_cast<uint32_t *>(image.bits()), image.width(), image.height(), image.bytesPerLine() / 4,
                    scratch)) {
                fail(StoreError {StoreError::Kind::damaged,
                    QStringLiteral("Frame %1 of the recording in %2 cannot be decoded").arg(it->first).arg(folder)});
                return {};
            }
        }
        if (chain.empty())
            return base; // pixels not yet written: nothing was decoded
        cache.insert(id, image);
        return image;
    }
};

FrameStore::FrameStore(QString folder)
    : m_folder(std::move(folder))
    , d(std::make_unique<Impl>())
{
    d->owner = this;
    d->folder = m_folder;
}

FrameStore::~FrameStore() = default;

int64_t FrameStore::defaultCacheBudget()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const int64_t memory = pages > 0 && pageSize > 0 ? int64_t(pages) * pageSize : int64_t(4) << 30;
    return std::clamp<int64_t>(memory / 8, int64_t(64) << 20, int64_t(1) << 30);
}

int64_t FrameStore::cacheBudgetSetting()
{
    bool ok = false;
    const qlonglong megabytes = Settings::value(QStringLiteral("frameCacheMegabytes")).toLongLong(&ok);
    return ok && megabytes > 0 ? int64_t(megabytes) << 20 : defaultCacheBudget();
}

void FrameStore::setCacheBudget(int64_t bytes)
{
    d->cache.setBudget(bytes > 0 ? bytes : defaultCacheBudget());
}

int64_t FrameStore::cacheBudget() const
{
    return d->cache.budget();
}

namespace {

void applyOptions(FrameStore &store, FrameStore::Impl &d, const FrameStore::Options &options)
{
    d.options = options;
    store.setCacheBudget(options.cacheBytes);
    const int threads = options.threads > 0 ? options.threads : std::min(2, QThread::idealThreadCount());
    d.pool.setMaxThreadCount(std::max(1, threads));
    d.pool.setObjectName(QStringLiteral("org.quillo.Quillo.store.encode"));
}

} // namespace

FrameStore::Created FrameStore::create(const RecordingInfo &info, const Options &options)
{
    Created result;
    const QString root = options.root.isEmpty() ? Recordings::root() : options.root;
    if (!QDir().mkpath(root)) {
        result.error = StoreError {StoreError::Kind::unwritable, QStringLiteral("Cannot make the folder %1").arg(root)};
        return result;
    }
    RecordingInfo stamped = info;
    if (!stamped.created.isValid())
        stamped.created = QDateTime::currentDateTime();
    QString folder;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate = root + QLatin1Char('/') + recordingFolderName(stamped.created, attempt);
        if (::mkdir(QFile::encodeName(candidate).constData(), 0700) == 0) {
            folder = candidate;
            break;
        }
        if (errno != EEXIST) {
            result.error = errnoError(errno, QStringLiteral("Cannot make the folder"), candidate);
            return result;
        }
    }
    if (folder.isEmpty()) {
        result.error
            = StoreError {StoreError::Kind::unwritable, QStringLiteral("Cannot make a folder in %1").arg(root)};
        return result;
    }
    std::shared_ptr<FrameStore> store(new FrameStore(folder));
    applyOptions(*store, *store->d, options);
    store->d->info = stamped;
    store->d->lockFd = tryLock(folder);
    if (store->d->lockFd < 0) {
        result.error = errnoError(errno, QStringLiteral("Cannot lock"), folder);
        return result;
    }
    if (std::optional<StoreError> e
        = replaceDurably(folder, QLatin1String(INFO_NAME), QStringLiteral("info.new"), encodeInfo(stamped))) {
        result.error = e;
        return result;
    }
    store->d->writeSegmentNumber = 1;
    result.store = store;
    return result;
}

FrameRef FrameStore::append(const QImage &image, std::optional<double> timestampSeconds)
{
    if (image.isNull())
        return nullptr;
    // Screen grabs arrive in one of the two layouts kept as they are; any
    // other picture is brought to the common one here.
    const QImage raw = keepsLayout(image.format()) ? image : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    std::optional<int64_t> timestampUs;
    if (timestampSeconds && std::isfinite(*timestampSeconds))
        timestampUs = int64_t(std::llround(*timestampSeconds * 1e6));

    uint64_t id = 0, refId = 0, generation = 0;
    double estimate = 0;
    QImage previous;
    {
        std::unique_lock lock(d->mutex);
        d->changed.wait(lock, [&] { return d->error || d->discarded || d->pendingBytes < d->options.maxPendingBytes; });
        if (d->error || d->discarded)
            return nullptr;
        id = d->nextId++;
        bool key = false;
        estimate = d->recordingPlan.next(raw, key);
        refId = key ? 0 : d->recordingPlan.previousId;
        previous = key ? QImage() : d->recordingPlan.previous;
        generation = d->recordingPlan.generation;
        d->recordingPlan.previous = raw;
        d->recordingPlan.previousId = id;
        Impl::Entry &entry = d->table[id];
        entry.size = raw.size();
        entry.refId = refId;
        entry.timestampUs = timestampUs;
        entry.raw = raw;
        d->pendingBytes += raw.sizeInBytes();
        ++d->stats.framesAppended;
    }
    Impl *impl = d.get();
    d->pool.start([impl, id, refId, generation, estimate, raw, previous, timestampUs] {
        double cost = 0;
        Impl::Encoded e = impl->encode(id, refId, raw, previous, timestampUs, cost);
        {
            std::lock_guard lock(impl->mutex);
            if (refId != 0)
                impl->recordingPlan.settle(generation, estimate, cost);
        }
        impl->writer.async([impl, e = std::move(e)]() mutable { impl->receive(std::move(e)); });
    });
    return std::make_shared<StoredFrame>(shared_from_this(), id, raw.size());
}

void FrameStore::saveIndex(const RecordingIndex &index)
{
    StoredIndex stored;
    stored.loopCount = index.loopCount;
    stored.fps = index.fps;
    stored.canvasWidth = index.canvas.width();
    stored.canvasHeight = index.canvas.height();
    uint64_t largest = 0;
    for (const RecordingIndex::Entry &entry : index.entries) {
        FrameRef frame = entry.frame;
        if (!frame)
            continue;
        if (frame->store().get() != this)
            frame = append(frame->image());
        if (!frame)
            continue; // the store has failed; the error says so
        stored.frames.emplace_back(frame->id(), entry.delayMs);
        largest = std::max(largest, frame->id());
    }
    {
        std::lock_guard lock(d->mutex);
        if (d->error || d->discarded)
            return;
        stored.generation = ++d->generation;
        for (const Impl::Segment &s : d->segments)
            stored.segments.push_back(s.number);
        if (!d->writeSegmentOpen && largest >= d->doneBelow)
            stored.segments.push_back(d->writeSegmentNumber);
        d->indexWaiting = true;
    }
    Impl *impl = d.get();
    d->writer.async([impl, stored = std::move(stored), largest]() mutable {
        impl->pendingIndex = std::make_pair(std::move(stored), largest);
        impl->writeIndexWhenReady();
    });
}

std::optional<StoreError> FrameStore::waitForWrites()
{
    {
        std::unique_lock lock(d->mutex);
        d->changed.wait(
            lock, [&] { return d->error || d->discarded || (d->doneBelow == d->nextId && !d->indexWaiting); });
    }
    Impl *impl = d.get();
    d->writer.sync([impl] { impl->syncData(); });
    return error();
}

std::optional<FrameRefList> FrameStore::transformAll(const FrameRefList &frames,
    const std::function<QImage(const QImage &)> &op, const std::function<bool(int64_t, int64_t)> &progress)
{
    const std::size_t total = frames.size();
    if (total == 0)
        return FrameRefList {};
    // Each run of frames is coded as one chain by one thread; a run's frames
    // wait in memory until the runs before it are written, so runs of large
    // frames are short.
    const int64_t frameBytes
        = int64_t(std::max(1, frames.front()->width())) * int64_t(std::max(1, frames.front()->height())) * 4;
    const std::size_t run = std::size_t(std::clamp<int64_t>((int64_t(64) << 20) / frameBytes, 4, 32));
    const std::size_t runs = (total + run - 1) / run;
    uint64_t first = 0;
    {
        std::lock_guard lock(d->mutex);
        if (d->error || d->discarded)
            return std::nullopt;
        first = d->nextId;
        d->nextId += total;
    }
    FrameRefList out(total);
    std::atomic<int64_t> done {0};
    std::atomic<bool> cancelled {false};
    std::vector<char> started(runs, 0);
    Impl *impl = d.get();
    auto self = shared_from_this();
    const bool ok = parallelFor(runs, [&](std::size_t r) {
        started[r] = 1;
        const std::size_t begin = r * run, end = std::min(total, begin + run);
        Impl::ChainPlan plan;
        for (std::size_t i = begin; i < end; ++i) {
            const uint64_t id = first + i;
            QImage source = frames[i] ? frames[i]->image() : QImage();
            QImage picture = source.isNull() ? QImage() : op(source);
            if (!picture.isNull() && !keepsLayout(picture.format()))
                picture = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            if (picture.isNull() || cancelled || error()) {
                for (std::size_t k = i; k < end; ++k)
                    impl->writer.async([impl, k, first] {
                        Impl::Encoded skip;
                        skip.id = first + k;
                        skip.skip = true;
                        impl->receive(std::move(skip));
                    });
                cancelled = true;
                return false;
            }
            bool key = false;
            const double estimate = plan.next(picture, key);
            const uint64_t refId = key ? 0 : plan.previousId;
            double cost = 0;
            Impl::Encoded e = impl->encode(id, refId, picture, key ? QImage() : plan.previous, std::nullopt, cost);
            if (!key)
                plan.settle(plan.generation, estimate, cost);
            plan.previous = picture;
            plan.previousId = id;
            {
                std::lock_guard lock(impl->mutex);
                Impl::Entry &entry = impl->table[id];
                entry.size = picture.size();
                entry.refId = refId;
                entry.raw = picture;
                impl->pendingBytes += picture.sizeInBytes();
                ++impl->stats.framesAppended;
            }
            impl->writer.async([impl, e = std::move(e)]() mutable { impl->receive(std::move(e)); });
            out[i] = std::make_shared<StoredFrame>(self, id, picture.size());
            const int64_t now = ++done;
            if (progress && !progress(now, int64_t(total))) {
                for (std::size_t k = i + 1; k < end; ++k)
                    impl->writer.async([impl, k, first] {
                        Impl::Encoded skip;
                        skip.id = first + k;
                        skip.skip = true;
                        impl->receive(std::move(skip));
                    });
                cancelled = true;
                return false;
            }
        }
        return true;
    });
    // Runs that never started still hold their ids: let the writer pass them.
    for (std::size_t r = 0; r < runs; ++r) {
        if (started[r])
            continue;
        for (std::size_t k = r * run; k < std::min(total, (r + 1) * run); ++k)
            impl->writer.async([impl, k, first] {
                Impl::Encoded skip;
                skip.id = first + k;
                skip.skip = true;
                impl->receive(std::move(skip));
            });
    }
    if (!ok || cancelled || error())
        return std::nullopt;
    return out;
}

std::optional<StoreError> FrameStore::error() const
{
    std::lock_guard lock(d->mutex);
    return d->error;
}

void FrameStore::discard()
{
    {
        std::lock_guard lock(d->mutex);
        d->discarded = true;
    }
    d->changed.notify_all();
    Impl *impl = d.get();
    // After the writer's queue: nothing is written into a removed folder.
    d->writer.sync([impl] {
        for (const QString &name : QDir(impl->folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            if (name == QLatin1String(INFO_NAME) || name == QLatin1String(INDEX_NAME)
                || name == QLatin1String(INDEX_TEMP_NAME) || name == QLatin1String(LOCK_NAME)
                || name == QLatin1String("info.new") || segmentNumber(name))
                ::unlink(QFile::encodeName(impl->folder + QLatin1Char('/') + name).constData());
        }
        ::rmdir(QFile::encodeName(impl->folder).constData());
    });
}

FrameStore::Stats FrameStore::stats() const
{
    std::lock_guard lock(d->mutex);
    Stats s = d->stats;
    s.cachedBytes = d->cache.bytes();
    return s;
}

QImage FrameStore::decode(uint64_t id)
{
    return d->decode(id);
}

// ---- opening an existing folder ----

FrameStore::Opened FrameStore::open(const QString &folder, const Options &options)
{
    Opened result;
    const QDir dir(folder);
    if (!dir.exists()) {
        result.error = StoreError {StoreError::Kind::unreadable, QStringLiteral("No recording in %1").arg(folder)};
        return result;
    }
    if (isLocked(folder)) {
        result.error = StoreError {
            StoreError::Kind::inUse, QStringLiteral("The recording in %1 is open in another Quillo").arg(folder)};
        return result;
    }
    // Folders too: a frames file that is not a file is damage to report.
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (names.isEmpty() && !QFileInfo(folder).isReadable()) {
        result.error = StoreError {StoreError::Kind::unreadable, QStringLiteral("Cannot read %1").arg(folder)};
        return result;
    }

    const FileRead infoFile = readWhole(folder + QLatin1Char('/') + QLatin1String(INFO_NAME));
    if (infoFile.error) {
        result.error = infoFile.error;
        return result;
    }
    if (std::optional<RecordingInfo> info = infoFile.bytes ? decodeInfo(*infoFile.bytes) : std::nullopt) {
        result.info = *info;
    } else {
        result.exact = false;
        result.problems << QStringLiteral("%1/%2 is missing or damaged").arg(folder, QLatin1String(INFO_NAME));
        result.info.created = QFileInfo(folder).lastModified();
    }

    // Every record of every session, checked.
    std::vector<uint32_t> numbers;
    for (const QString &name : names) {
        if (std::optional<uint32_t> n = segmentNumber(name))
            numbers.push_back(*n);
    }
    std::sort(numbers.begin(), numbers.end());
    std::map<uint64_t, RecordLocation> records;
    for (uint32_t n : numbers) {
        const SegmentScan scan = scanSegment(folder + QLatin1Char('/') + segmentName(n), n, true);
        if (scan.error) {
            result.error = scan.error;
            return result;
        }
        result.problems << scan.damage;
        for (const RecordLocation &r : scan.records) {
            if (!records.emplace(r.header.id, r).second)
                result.problems << QStringLiteral("%1: frame %2 is stored twice").arg(folder).arg(r.header.id);
        }
    }
    // A delta whose reference is gone cannot be decoded.
    std::map<uint64_t, RecordLocation> usable;
    for (const auto &[id, r] : records) {
        const bool whole = r.header.refId == 0 || (r.header.refId < id && usable.count(r.header.refId));
        if (whole)
            usable.emplace(id, r);
        else
            result.problems << QStringLiteral("%1: frame %2 depends on a damaged frame").arg(folder).arg(id);
    }
    if (!result.problems.isEmpty())
        result.exact = false;

    std::shared_ptr<FrameStore> store(new FrameStore(folder));
    applyOptions(*store, *store->d, options);
    Impl &d = *store->d;
    d.info = result.info;
    d.lockFd = tryLock(folder);
    if (d.lockFd < 0) {
        result.error = isLocked(folder) ? StoreError {StoreError::Kind::inUse,
                           QStringLiteral("The recording in %1 is open in another Quillo").arg(folder)}
                                        : errnoError(errno, QStringLiteral("Cannot lock"), folder);
        return result;
    }
    std::map<uint32_t, std::size_t> segmentSlot;
    for (uint32_t n : numbers) {
        const QString path = folder + QLatin1Char('/') + segmentName(n);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            result.error = errnoError(errno, QStringLiteral("Cannot read"), path);
            return result;
        }
        segmentSlot[n] = d.segments.size();
        d.segments.push_back({n, fd});
    }
    d.writeSegmentNumber = numbers.empty() ? 1 : numbers.back() + 1;
    uint64_t largest = 0;
    for (const auto &[id, r] : records)
        largest = std::max(largest, id);
    d.nextId = largest + 1;
    d.doneBelow = d.nextId;
    for (const auto &[id, r] : usable) {
        Impl::Entry &entry = d.table[id];
        entry.size = QSize(int(r.header.width), int(r.header.height));
        entry.refId = r.header.refId;
        entry.timestampUs = r.header.timestampUs;
        entry.written = true;
        entry.segment = segmentSlot[r.segment];
        entry.payloadOffset = r.payloadOffset;
        entry.payloadSize = r.header.payloadSize;
        entry.payloadCrc = r.header.payloadCrc;
    }
    auto handle = [&](uint64_t id) {
        const RecordHeader &h = usable.at(id).header;
        return std::make_shared<StoredFrame>(store, id, QSize(int(h.width), int(h.height)));
    };

    const FileRead indexFile = readWhole(folder + QLatin1Char('/') + QLatin1String(INDEX_NAME));
    if (indexFile.error) {
        result.error = indexFile.error;
        return result;
    }
    std::optional<StoredIndex> stored = indexFile.bytes ? decodeIndex(*indexFile.bytes) : std::nullopt;
    if (indexFile.bytes && !stored) {
        result.exact = false;
        result.problems << QStringLiteral("%1/%2 is damaged: the frames are given in the order they were recorded")
                               .arg(folder, QLatin1String(INDEX_NAME));
    }
    if (stored) {
        d.generation = stored->generation;
        result.index.loopCount = stored->loopCount;
        result.index.fps = stored->fps;
        result.index.canvas = QSize(stored->canvasWidth, stored->canvasHeight);
        for (uint32_t s : stored->segments) {
            if (!segmentSlot.count(s)) {
                result.exact = false;
                result.problems << QStringLiteral("%1/%2 is missing").arg(folder, segmentName(s));
            }
        }
        const std::size_t count = stored->frames.size();
        for (std::size_t i = 0; i < count; ++i) {
            const auto &[id, delay] = stored->frames[i];
            if (!usable.count(id)) {
                result.exact = false;
                result.problems << QStringLiteral("Frame %1 of %2 cannot be read").arg(i + 1).arg(count);
                continue;
            }
            result.index.entries.push_back({handle(id), delay});
        }
    } else {
        // Interrupted before its first index (or with a damaged one): the
        // captured frames in capture order, timed the way the capture engine
        // times them.
        std::vector<const RecordLocation *> captured;
        for (const auto &[id, r] : usable) {
            if (r.header.timestampUs)
                captured.push_back(&r);
        }
        std::stable_sort(captured.begin(), captured.end(), [](const RecordLocation *a, const RecordLocation *b) {
            return *a->header.timestampUs < *b->header.timestampUs;
        });
        const int64_t nominal = nominalDelayMs(result.info.fps);
        for (std::size_t i = 0; i < captured.size(); ++i) {
            int64_t delay = nominal;
            if (result.info.variableFrameRate && i + 1 < captured.size()) {
                const double gapMs
                    = double(*captured[i + 1]->header.timestampUs - *captured[i]->header.timestampUs) / 1000.0;
                delay = std::max<int64_t>(int64_t(std::llround(gapMs)), 10);
            }
            result.index.entries.push_back({handle(captured[i]->header.id), delay});
        }
        result.index.fps = result.info.fps;
        if (!result.index.entries.empty())
            result.index.canvas = result.index.entries.front().frame->size();
    }
    result.store = store;
    return result;
}
