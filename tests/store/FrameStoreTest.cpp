#include "StoreTestSupport.h"

#include "store/FrameCodec.h"
#include "store/FrameStore.h"
#include "store/Recordings.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <atomic>

using namespace StoreTest;

namespace {

FrameStore::Options in(const QTemporaryDir &dir, int64_t cacheBytes = 0)
{
    FrameStore::Options options;
    options.root = dir.path();
    options.cacheBytes = cacheBytes;
    return options;
}

std::shared_ptr<FrameStore> makeStore(const QTemporaryDir &dir, int64_t cacheBytes = 0)
{
    FrameStore::Created created = FrameStore::create(RecordingInfo {}, in(dir, cacheBytes));
    EXPECT_FALSE(created.error) << qPrintable(created.error->message);
    return created.store;
}

struct Sequence {
    const char *name;
    QSize size;
    QImage::Format format;
    std::function<QImage(int, QSize, QImage::Format)> frame;
};

} // namespace

// Every frame reads back byte for byte: while it waits to be written, from
// disk through the chain of deltas with no help from the cache, and after the
// folder is opened again by a new store.
TEST(FrameStore, EveryFrameRoundTripsBitExactly_ForEveryKindOfContentAndSize)
{
    auto scrolling = [](int i, QSize s, QImage::Format f) { return screen(s, i * 5, i, f); };
    auto typing = [](int i, QSize s, QImage::Format f) { return screen(s, 0, i, f); };
    auto random = [](int i, QSize s, QImage::Format f) { return noise(s, uint32_t(i + 1), f); };
    // Screen content, then noise, then screen again: keys and deltas of both.
    auto mixed = [](int i, QSize s, QImage::Format f) {
        return i % 6 < 3 ? screen(s, i * 2, i, f) : noise(s, uint32_t(i), f);
    };
    const Sequence cases[] = {
        {"1x1 random", QSize(1, 1), QImage::Format_ARGB32_Premultiplied, random},
        {"1x1 opaque", QSize(1, 1), QImage::Format_RGB32, typing},
        {"1 column", QSize(1, 37), QImage::Format_ARGB32_Premultiplied, scrolling},
        {"1 row", QSize(129, 1), QImage::Format_ARGB32_Premultiplied, mixed},
        {"odd, tiles cut on both edges", QSize(67, 35), QImage::Format_ARGB32_Premultiplied, mixed},
        {"scrolling", QSize(203, 150), QImage::Format_ARGB32_Premultiplied, scrolling},
        {"scrolling, RGB32 with junk alpha", QSize(203, 150), QImage::Format_RGB32, scrolling},
        {"typing", QSize(320, 201), QImage::Format_ARGB32_Premultiplied, typing},
        {"random", QSize(97, 64), QImage::Format_ARGB32_Premultiplied, random},
        {"converted from RGB888", QSize(45, 33), QImage::Format_RGB888, scrolling},
        {"converted from ARGB32", QSize(45, 33), QImage::Format_ARGB32, random},
    };
    constexpr int FRAMES = 24;
    for (const Sequence &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        QString folder;
        std::vector<QImage> sources;
        {
            // A cache too small for a single frame: every read decodes.
            std::shared_ptr<FrameStore> store = makeStore(dir, 1);
            ASSERT_TRUE(store);
            folder = store->folder();
            FrameRefList frames;
            for (int i = 0; i < FRAMES; ++i) {
                sources.push_back(c.frame(i, c.size, c.format));
                frames.push_back(store->append(sources.back(), i / 30.0));
                ASSERT_TRUE(frames.back());
                EXPECT_EQ(frames.back()->size(), c.size);
            }
            ASSERT_TRUE(sameBytes(frames[FRAMES - 1]->image(), expected(sources[FRAMES - 1])))
                << "before it is written";
            ASSERT_FALSE(store->waitForWrites());
            for (int i = FRAMES - 1; i >= 0; --i)
                ASSERT_TRUE(sameBytes(frames[size_t(i)]->image(), expected(sources[size_t(i)]))) << "frame " << i;
        }
        FrameStore::Opened opened = FrameStore::open(folder, in(dir, 1));
        ASSERT_FALSE(opened.error);
        EXPECT_TRUE(opened.exact) << qPrintable(opened.problems.join('\n'));
        ASSERT_EQ(opened.index.entries.size(), size_t(FRAMES));
        for (int i = 0; i < FRAMES; ++i)
            ASSERT_TRUE(sameBytes(opened.index.entries[size_t(i)].frame->image(), expected(sources[size_t(i)])))
                << "reopened frame " << i;
    }
}

TEST(FrameStore, MemoryFrames_KeepTheirPicturesWithoutAStore)
{
    const QImage picture = screen(QSize(30, 20), 0, 1, QImage::Format_RGB888);
    const FrameRef frame = StoredFrame::fromImage(picture);
    EXPECT_EQ(frame->store(), nullptr);
    EXPECT_TRUE(sameBytes(frame->image(), picture.convertToFormat(QImage::Format_ARGB32_Premultiplied)));
}

// The index names frames by reference: a project of reordered, repeated and
// foreign frames comes back as it was saved, and a later save replaces it.
TEST(FrameStore, SavedIndex_OpensAsTheProjectWasSaved)
{
    QTemporaryDir dir;
    QString folder;
    std::vector<QImage> pictures;
    {
        std::shared_ptr<FrameStore> store = makeStore(dir);
        FrameRefList frames;
        for (int i = 0; i < 10; ++i) {
            pictures.push_back(screen(QSize(90, 60), i * 3, i));
            frames.push_back(store->append(pictures.back(), i * 0.04));
        }
        pictures.push_back(noise(QSize(90, 60), 5));
        RecordingIndex index;
        index.loopCount = 3;
        index.fps = 25;
        index.canvas = QSize(90, 60);
        index.entries
            = {{frames[9], 40}, {frames[2], 120}, {frames[2], 10}, {StoredFrame::fromImage(pictures[10]), 70}};
        store->saveIndex(index);
        ASSERT_FALSE(store->waitForWrites());
        index.entries.erase(index.entries.begin());
        index.loopCount = 5;
        store->saveIndex(index);
        ASSERT_FALSE(store->waitForWrites());
        folder = store->folder();
    }
    FrameStore::Opened opened = FrameStore::open(folder, in(dir));
    ASSERT_FALSE(opened.error);
    EXPECT_TRUE(opened.exact);
    EXPECT_EQ(opened.index.loopCount, 5);
    EXPECT_EQ(opened.index.fps, 25);
    EXPECT_EQ(opened.index.canvas, QSize(90, 60));
    ASSERT_EQ(opened.index.entries.size(), 3u);
    const int want[] = {2, 2, 10};
    const int64_t delays[] = {120, 10, 70};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(opened.index.entries[i].delayMs, delays[i]);
        EXPECT_TRUE(sameBytes(opened.index.entries[i].frame->image(), pictures[size_t(want[i])])) << i;
    }
    EXPECT_EQ(opened.index.entries[0].frame, opened.index.entries[0].frame);
    EXPECT_EQ(opened.index.entries[0].frame->id(), opened.index.entries[1].frame->id());
}

// Without an index (the program died while recording) the captured frames
// come back in capture order, timed as the capture engine times them.
TEST(FrameStore, InterruptedRecording_OpensWithDelaysFromCaptureTimes)
{
    struct Case {
        bool variable;
        std::vector<double> times;
        std::vector<int64_t> delays;
    };
    const Case cases[] = {
        {true, {0.0, 0.0333, 0.0504, 0.0534}, {33, 17, 10, 33}},
        {false, {0.0, 0.0333, 0.0504}, {33, 33, 33}},
        // Out of order arrivals are sorted by time.
        {true, {0.1, 0.0, 0.05}, {50, 50, 33}},
    };
    for (const Case &c : cases) {
        QTemporaryDir dir;
        QString folder;
        {
            RecordingInfo info;
            info.fps = 30;
            info.variableFrameRate = c.variable;
            FrameStore::Created created = FrameStore::create(info, in(dir));
            for (size_t i = 0; i < c.times.size(); ++i)
                created.store->append(screen(QSize(40, 30), 0, int(i)), c.times[i]);
            ASSERT_FALSE(created.store->waitForWrites());
            folder = created.store->folder();
        }
        FrameStore::Opened opened = FrameStore::open(folder, in(dir));
        ASSERT_EQ(opened.index.entries.size(), c.delays.size());
        for (size_t i = 0; i < c.delays.size(); ++i)
            EXPECT_EQ(opened.index.entries[i].delayMs, c.delays[i]) << i;
        EXPECT_EQ(opened.index.fps, 30);
        EXPECT_EQ(opened.index.canvas, QSize(40, 30));
    }
}

TEST(FrameStore, TransformAll_WritesNewFramesInOrder_AndCancels)
{
    QTemporaryDir dir;
    std::shared_ptr<FrameStore> store = makeStore(dir);
    FrameRefList frames;
    std::vector<QImage> pictures;
    for (int i = 0; i < 150; ++i) {
        pictures.push_back(screen(QSize(120, 90), i * 4, i));
        frames.push_back(store->append(pictures.back()));
    }
    const auto crop = [](const QImage &image) { return image.copy(7, 5, 61, 43); };
    std::atomic<int64_t> last {0};
    const std::optional<FrameRefList> cropped = store->transformAll(frames, crop, [&](int64_t done, int64_t total) {
        EXPECT_EQ(total, 150);
        last = std::max<int64_t>(last, done);
        return true;
    });
    ASSERT_TRUE(cropped);
    EXPECT_EQ(last, 150);
    ASSERT_EQ(cropped->size(), 150u);
    ASSERT_FALSE(store->waitForWrites());
    for (size_t i = 0; i < 150; ++i) {
        ASSERT_TRUE(sameBytes((*cropped)[i]->image(), crop(pictures[i]))) << i;
        ASSERT_TRUE(sameBytes(frames[i]->image(), pictures[i])) << "the original stays " << i;
    }

    const std::optional<FrameRefList> cancelled
        = store->transformAll(frames, crop, [](int64_t done, int64_t) { return done < 20; });
    EXPECT_FALSE(cancelled);
    // The writer passes the ids the cancelled run left empty.
    EXPECT_FALSE(store->waitForWrites());
    FrameRef after = store->append(pictures[0]);
    EXPECT_FALSE(store->waitForWrites());
    EXPECT_TRUE(sameBytes(after->image(), pictures[0]));
}

TEST(FrameStore, DecodedCache_StaysWithinItsBudget)
{
    QTemporaryDir dir;
    const int64_t frameBytes = 100 * 80 * 4;
    std::shared_ptr<FrameStore> store = makeStore(dir, 3 * frameBytes);
    FrameRefList frames;
    for (int i = 0; i < 20; ++i)
        frames.push_back(store->append(noise(QSize(100, 80), uint32_t(i))));
    ASSERT_FALSE(store->waitForWrites());
    for (const FrameRef &f : frames)
        f->image();
    EXPECT_LE(store->stats().cachedBytes, 3 * frameBytes);
    EXPECT_GT(store->stats().cachedBytes, 0);
    store->setCacheBudget(frameBytes);
    EXPECT_LE(store->stats().cachedBytes, frameBytes);
    EXPECT_GE(FrameStore::defaultCacheBudget(), int64_t(64) << 20);
    EXPECT_LE(FrameStore::defaultCacheBudget(), int64_t(1) << 30);
}

TEST(Recordings, ListSkipsRecordingsInUse_AndRemoveTakesOnlyQuillosFolders)
{
    QTemporaryDir dir;
    QString folder;
    {
        std::shared_ptr<FrameStore> store = makeStore(dir);
        for (int i = 0; i < 3; ++i)
            store->append(screen(QSize(50, 40), i, i), i * 0.1);
        ASSERT_FALSE(store->waitForWrites());
        folder = store->folder();
        EXPECT_TRUE(Recordings::list(dir.path()).empty()) << "held by a live store";
        ASSERT_TRUE(Recordings::remove(folder));
        EXPECT_EQ(Recordings::remove(folder)->kind, StoreError::Kind::inUse);
        EXPECT_EQ(FrameStore::open(folder, in(dir)).error->kind, StoreError::Kind::inUse);
    }
    std::vector<RecordingSummary> found = Recordings::list(dir.path());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].folder, folder);
    EXPECT_EQ(found[0].frameCount, 3);
    EXPECT_EQ(found[0].canvas, QSize(50, 40));
    EXPECT_TRUE(found[0].problem.isEmpty());
    EXPECT_LT(found[0].created.secsTo(QDateTime::currentDateTime()), 60);

    QFile stray(folder + "/notes.txt");
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.close();
    const std::optional<StoreError> refused = Recordings::remove(folder);
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->message.contains("notes.txt"));
    EXPECT_TRUE(QFile::exists(folder + "/frames-1"));
    QFile::remove(folder + "/notes.txt");
    EXPECT_FALSE(Recordings::remove(folder));
    EXPECT_FALSE(QDir(folder).exists());
}

TEST(FrameStore, Discard_RemovesTheFolder_WhileHandedOutFramesStayReadable)
{
    QTemporaryDir dir;
    std::shared_ptr<FrameStore> store = makeStore(dir, 1);
    const QImage picture = noise(QSize(64, 48), 9);
    FrameRef frame = store->append(picture);
    ASSERT_FALSE(store->waitForWrites());
    store->discard();
    EXPECT_FALSE(QDir(store->folder()).exists());
    EXPECT_TRUE(sameBytes(frame->image(), picture));
    EXPECT_EQ(store->append(picture), nullptr);
}

// The store checks every payload's CRC before decoding; the decoder still
// refuses what does not fit the picture instead of writing past it.
TEST(FrameCodec, CutOrForeignPayloads_AreRefused)
{
    FrameCodec::Scratch scratch;
    const QImage first = screen(QSize(700, 400), 0, 1), second = screen(QSize(700, 400), 9, 2);
    auto view = [](const QImage &i) {
        return FrameCodec::View {
            reinterpret_cast<const uint32_t *>(i.constBits()), i.width(), i.height(), i.bytesPerLine() / 4, false};
    };
    const QByteArray key = FrameCodec::encodeKey(view(first), 1, scratch).payload;
    const QByteArray delta = FrameCodec::encodeDelta(view(second), view(first), 1, scratch).payload;
    std::vector<uint8_t> buffer;
    for (const QByteArray &payload : {key, delta}) {
        QImage out = first.copy();
        auto decode = [&](const QByteArray &bytes, QSize size) {
            return FrameCodec::decode(bytes.constData(), std::size_t(bytes.size()),
                reinterpret_cast<uint32_t *>(out.bits()), size.width(), size.height(), out.bytesPerLine() / 4, buffer);
        };
        ASSERT_TRUE(decode(payload, first.size()));
        for (qsizetype cut : {qsizetype(0), qsizetype(1), qsizetype(2), payload.size() / 2, payload.size() - 1})
            EXPECT_FALSE(decode(payload.left(cut), first.size())) << "cut at " << cut;
        // Into a picture of that size: the decoder writes as many rows as it is told.
        QImage taller(700, 416, QImage::Format_ARGB32_Premultiplied);
        EXPECT_FALSE(FrameCodec::decode(payload.constData(), std::size_t(payload.size()),
            reinterpret_cast<uint32_t *>(taller.bits()), 700, 416, taller.bytesPerLine() / 4, buffer))
            << "another size";
        EXPECT_FALSE(decode(payload + QByteArray(3, 'x'), first.size())) << "trailing bytes";
        EXPECT_FALSE(decode(QByteArray("Z") + payload.mid(1), first.size())) << "unknown kind";
    }
}
