#include "StoreTestSupport.h"

#include "store/FrameStore.h"
#include "store/Recordings.h"
#include "support/SmallDisk.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <unistd.h>

using namespace StoreTest;

namespace {

constexpr int FRAMES = 12;

struct Record {
    qint64 at = 0; // the header's offset
    uint64_t id = 0;
    uint64_t refId = 0;
    uint32_t payloadSize = 0;
};

std::vector<Record> records(const QByteArray &file)
{
    std::vector<Record> out;
    qint64 at = 0;
    while (at + 56 <= file.size()) {
        Record r;
        r.at = at;
        std::memcpy(&r.id, file.constData() + at + 8, 8);
        std::memcpy(&r.refId, file.constData() + at + 16, 8);
        std::memcpy(&r.payloadSize, file.constData() + at + 40, 4);
        out.push_back(r);
        at += 56 + r.payloadSize;
    }
    return out;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// A recording of FRAMES frames whose index lists them all, in order.
QString makeRecording(const QTemporaryDir &dir, bool withIndex, std::vector<QImage> &pictures)
{
    FrameStore::Options options;
    options.root = dir.path();
    FrameStore::Created created = FrameStore::create(RecordingInfo {}, options);
    RecordingIndex index;
    index.fps = 30;
    for (int i = 0; i < FRAMES; ++i) {
        pictures.push_back(screen(QSize(100, 70), i * 3, i));
        index.entries.push_back({created.store->append(pictures.back(), i / 30.0), 33});
    }
    if (withIndex)
        created.store->saveIndex(index);
    EXPECT_FALSE(created.store->waitForWrites());
    return created.store->folder();
}

} // namespace

// Damage is reported with what it costs; whatever can still be read comes
// back in its place, and nothing in the folder is changed or removed.
TEST(StoreDamage, DamagedIndexOrFrames_AreReported_AndTheRestOpens)
{
    struct Case {
        const char *name;
        bool withIndex;
        std::function<void(const QString &folder)> damage;
        const char *problem; // empty: none expected
        std::vector<int> frames; // the pictures that open, in order
        bool exact;
        // When set, `frames` is every frame but this one and those decoded
        // on it, as the file's references say.
        int damagedFrame = -1;
    };
    const std::vector<int> all = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    auto flipByte = [](const QString &path, qint64 offset) {
        QByteArray bytes = readAll(path);
        bytes[offset] = char(bytes[offset] ^ 0x5a);
        writeAll(path, bytes);
    };
    const Case cases[] = {
        {"index flipped", true, [&](const QString &f) { flipByte(f + "/index", 30); }, "index is damaged", all, false},
        {"index cut short", true, [&](const QString &f) { writeAll(f + "/index", readAll(f + "/index").left(20)); },
            "index is damaged", all, false},
        // Frame 10's payload: it is lost with every delta decoded on it, and
        // the index says which.
        {"payload flipped", true,
            [&](const QString &f) {
                const QByteArray bytes = readAll(f + "/frames-1");
                const Record r = records(bytes)[10];
                flipByte(f + "/frames-1", r.at + 56 + r.payloadSize / 2);
            },
            "Frame 11 of 12 cannot be read", {}, false, 10},
        {"header flipped", false,
            [&](const QString &f) { flipByte(f + "/frames-1", records(readAll(f + "/frames-1"))[4].at + 20); },
            "damaged record at byte", {0, 1, 2, 3}, false},
        {"frames file gone", true, [](const QString &f) { QFile::remove(f + "/frames-1"); }, "frames-1 is missing", {},
            false},
        {"info gone", true, [](const QString &f) { QFile::remove(f + "/info"); }, "info is missing", all, false},
        // What a kill leaves: half a record at the end. Expected, not damage.
        {"torn last record", false,
            [&](const QString &f) {
                const QByteArray bytes = readAll(f + "/frames-1");
                writeAll(f + "/frames-1", bytes.left(records(bytes).back().at + 70));
            },
            "", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        std::vector<QImage> pictures;
        const QString folder = makeRecording(dir, c.withIndex, pictures);
        std::vector<int> frames = c.frames;
        if (c.damagedFrame >= 0) {
            const std::vector<Record> written = records(readAll(folder + "/frames-1"));
            std::set<uint64_t> lost = {written[size_t(c.damagedFrame)].id};
            frames.clear();
            for (size_t i = 0; i < written.size(); ++i) {
                if (lost.count(written[i].refId))
                    lost.insert(written[i].id);
                if (!lost.count(written[i].id))
                    frames.push_back(int(i));
            }
        }
        c.damage(folder);
        const QStringList before = QDir(folder).entryList(QDir::Files);

        if (*c.problem) {
            const std::vector<RecordingSummary> listed = Recordings::list(dir.path());
            ASSERT_EQ(listed.size(), 1u);
        }
        FrameStore::Options options;
        options.root = dir.path();
        FrameStore::Opened opened = FrameStore::open(folder, options);
        ASSERT_FALSE(opened.error) << qPrintable(opened.error->message);
        EXPECT_EQ(opened.exact, c.exact);
        if (*c.problem)
            EXPECT_TRUE(opened.problems.join('\n').contains(c.problem)) << qPrintable(opened.problems.join('\n'));
        else
            EXPECT_TRUE(opened.problems.isEmpty()) << qPrintable(opened.problems.join('\n'));
        ASSERT_EQ(opened.index.entries.size(), frames.size());
        for (size_t i = 0; i < frames.size(); ++i)
            EXPECT_TRUE(sameBytes(opened.index.entries[i].frame->image(), pictures[size_t(frames[i])])) << i;
        EXPECT_EQ(QDir(folder).entryList(QDir::Files), before) << "the folder is left as it was";
    }
}

TEST(StoreDamage, ListedRecordings_CarryTheirProblem)
{
    QTemporaryDir dir;
    std::vector<QImage> pictures;
    const QString folder = makeRecording(dir, true, pictures);
    QByteArray index = readAll(folder + "/index");
    index[12] = char(index[12] + 1);
    writeAll(folder + "/index", index);
    const std::vector<RecordingSummary> listed = Recordings::list(dir.path());
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_TRUE(listed[0].problem.contains("index is damaged")) << qPrintable(listed[0].problem);
    EXPECT_EQ(listed[0].frameCount, FRAMES) << "the captured frames are still counted";
}

// A folder whose files cannot be read is reported and left alone: opening
// fails with the reason, removing refuses.
TEST(StoreDamage, UnreadableFolder_IsReportedAndLeftAlone)
{
    QTemporaryDir dir;
    std::vector<QImage> pictures;
    const QString folder = makeRecording(dir, false, pictures);
    ASSERT_TRUE(QDir(folder).mkdir("frames-2")); // a segment that is no file
    FrameStore::Options options;
    options.root = dir.path();
    const FrameStore::Opened opened = FrameStore::open(folder, options);
    ASSERT_TRUE(opened.error);
    EXPECT_EQ(opened.error->kind, StoreError::Kind::unreadable);
    EXPECT_TRUE(opened.error->message.contains("frames-2"));
    const std::vector<RecordingSummary> listed = Recordings::list(dir.path());
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_FALSE(listed[0].problem.isEmpty());
    EXPECT_TRUE(Recordings::remove(folder));
    EXPECT_TRUE(QFile::exists(folder + "/frames-1"));
}

// A full disk stops the store with a clear error; every frame written before
// stays on disk and opens, and every frame handed out stays readable.
TEST(StoreDamage, DiskFull_GivesTheErrorAndKeepsWhatWasWritten)
{
    const SmallDisk disk(QStringLiteral("1m"));
    if (!disk.mounted())
        GTEST_SKIP() << "needs root to mount a 1 MB tmpfs for a full disk";

    FrameStore::Options options;
    options.root = disk.path();
    FrameStore::Created created = FrameStore::create(RecordingInfo {}, options);
    ASSERT_TRUE(created.store);
    std::atomic<int> errors {0};
    created.store->onError = [&](const StoreError &) { ++errors; };
    std::vector<QImage> pictures;
    FrameRefList frames;
    // Noise does not compress: 40 kB a frame, 25 fill the disk.
    for (int i = 0; i < 60; ++i) {
        pictures.push_back(noise(QSize(100, 100), uint32_t(i)));
        FrameRef frame = created.store->append(pictures.back(), i / 30.0);
        if (!frame)
            break;
        frames.push_back(frame);
        created.store->waitForWrites();
    }
    const std::optional<StoreError> error = created.store->waitForWrites();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, StoreError::Kind::diskFull);
    EXPECT_TRUE(error->message.startsWith("The disk is full")) << qPrintable(error->message);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(created.store->append(pictures[0]), nullptr);
    const int64_t written = created.store->stats().framesWritten;
    EXPECT_GT(written, 5);
    EXPECT_LT(written, 60);
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_TRUE(sameBytes(frames[i]->image(), pictures[i])) << i;
    const QString folder = created.store->folder();
    created = {};
    frames.clear();

    FrameStore::Opened opened = FrameStore::open(folder, options);
    ASSERT_FALSE(opened.error);
    EXPECT_TRUE(opened.exact) << qPrintable(opened.problems.join('\n'));
    ASSERT_EQ(int64_t(opened.index.entries.size()), written);
    for (int64_t i = 0; i < written; ++i)
        EXPECT_TRUE(sameBytes(opened.index.entries[size_t(i)].frame->image(), pictures[size_t(i)])) << i;
}
