#include "EditorTestSupport.h"

#include "editor/EditorDocument.h"
#include "store/FrameStore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

// The document alone, without any window: what each edit does to the frames,
// the selection, the history and the revision.

namespace {

// The selection, the history depths and the revision: what a refused edit or
// a mere navigation must leave alone (besides the frames).
struct Untouched {
    explicit Untouched(const EditorDocument &d)
        : frames(d.project()->frames)
        , delays(delaysOf(*d.project()))
        , undo(d.undoDepth())
        , redo(d.redoDepth())
        , revision(d.revision())
    {
    }
    bool same(const EditorDocument &d) const
    {
        return d.project()->frames == frames && delaysOf(*d.project()) == delays && d.undoDepth() == undo
            && d.redoDepth() == redo && d.revision() == revision;
    }
    GifFrameList frames;
    std::vector<int64_t> delays;
    size_t undo;
    size_t redo;
    uint64_t revision;
};

} // namespace

TEST(EditorDocument, SelectionFollowsClicksAndNeverCountsAsAChange)
{
    EditorDocument d(makeProject(8));
    const Untouched before(d);
    EXPECT_EQ(d.selected(), (std::set<int64_t> {0}));

    EXPECT_TRUE(d.select(5, Qt::ControlModifier));
    EXPECT_EQ(d.selected(), (std::set<int64_t> {0, 5}));
    EXPECT_EQ(d.anchor(), 5);
    // Shift extends from the anchor Control left, and wins over Control.
    EXPECT_TRUE(d.select(3, Qt::ShiftModifier | Qt::ControlModifier));
    EXPECT_EQ(d.selected(), (std::set<int64_t> {3, 4, 5}));
    EXPECT_EQ(d.anchor(), 5);
    EXPECT_EQ(d.current(), 3);
    // Control takes a frame out, but never the last one.
    EXPECT_TRUE(d.select(4, Qt::ControlModifier));
    EXPECT_EQ(d.selected(), (std::set<int64_t> {3, 5}));
    EXPECT_TRUE(d.select(7, Qt::NoModifier));
    EXPECT_TRUE(d.select(7, Qt::ControlModifier));
    EXPECT_EQ(d.selected(), (std::set<int64_t> {7}));

    for (const int64_t outside : {int64_t(-1), int64_t(8)}) {
        EXPECT_FALSE(d.select(outside, Qt::NoModifier));
        EXPECT_EQ(d.current(), 7);
        EXPECT_EQ(d.selected(), (std::set<int64_t> {7}));
    }

    d.selectNext();
    EXPECT_EQ(d.current(), 7);
    d.selectFirst();
    d.selectPrev();
    EXPECT_EQ(d.current(), 0);
    d.select(2, Qt::NoModifier);
    d.selectAll();
    EXPECT_EQ(d.selected().size(), 8u);
    EXPECT_EQ(d.current(), 2);
    EXPECT_EQ(d.anchor(), 0);

    // What playback shows moves alone and stays on the frames.
    d.setCurrent(99);
    EXPECT_EQ(d.current(), 7);
    EXPECT_EQ(d.selected().size(), 8u);
    d.setSelection({1, 3, 42});
    EXPECT_EQ(d.selected(), (std::set<int64_t> {1, 3}));

    EXPECT_TRUE(before.same(d));

    EditorDocument empty(nullptr);
    empty.selectNext();
    empty.selectLast();
    empty.setCurrent(3);
    EXPECT_EQ(empty.current(), 0);
    EXPECT_FALSE(empty.select(0, Qt::NoModifier));
    empty.selectAll();
    EXPECT_TRUE(empty.selected().empty());
}

TEST(EditorDocument, RefusedEditsChangeNothing)
{
    struct Row {
        const char *what;
        int frames;
        std::function<void(EditorDocument &)> setup;
        std::function<bool(EditorDocument &)> op;
    };
    const auto none = [](EditorDocument &) {};
    const Row rows[] = {
        {"delete the only frame", 1, none, [](EditorDocument &d) { return d.deleteSelected(); }},
        {"delete every frame", 3, [](EditorDocument &d) { d.selectAll(); },
            [](EditorDocument &d) { return d.deleteSelected(); }},
        {"delete without a selection", 3, [](EditorDocument &d) { d.setSelection({}); },
            [](EditorDocument &d) { return d.deleteSelected(); }},
        {"trim before frame 0", 3, none, [](EditorDocument &d) { return d.trimBefore(); }},
        {"trim after the last", 3, [](EditorDocument &d) { d.selectLast(); },
            [](EditorDocument &d) { return d.trimAfter(); }},
        {"reverse one frame", 1, none, [](EditorDocument &d) { return d.reverse(); }},
        {"reorder a block onto itself", 6, [](EditorDocument &d) { d.select(3, Qt::ShiftModifier); },
            [](EditorDocument &d) { return d.reorderSelection(4); }},
        {"shift by zero", 4, none, [](EditorDocument &d) { return d.shiftSelection(0); }},
        {"shift left of frame 0", 4, none, [](EditorDocument &d) { return d.shiftSelection(-1); }},
        {"shift right past the end", 4, [](EditorDocument &d) { d.select(3, Qt::ShiftModifier); },
            [](EditorDocument &d) { return d.shiftSelection(+1); }},
        {"delay without frames", 0, none, [](EditorDocument &d) { return d.applyDelay(100, false); }},
        {"speed zero", 3, none, [](EditorDocument &d) { return d.setSpeed(0); }},
        {"speed negative", 3, none, [](EditorDocument &d) { return d.setSpeed(-2); }},
        {"speed not a number", 3, none, [](EditorDocument &d) { return d.setSpeed(std::nan("")); }},
        {"speed infinite", 3, none, [](EditorDocument &d) { return d.setSpeed(INFINITY); }},
        {"the loop count it has", 3, none, [](EditorDocument &d) { return d.setLoopCount(0); }},
        {"undo without history", 3, none, [](EditorDocument &d) { return d.undo(); }},
        {"redo without history", 3, none, [](EditorDocument &d) { return d.redo(); }},
    };
    for (const Row &row : rows) {
        EditorDocument d(makeProject(row.frames));
        row.setup(d);
        const Untouched before(d);
        const std::set<int64_t> selected = d.selected();
        EXPECT_FALSE(row.op(d)) << row.what;
        EXPECT_TRUE(before.same(d)) << row.what;
        EXPECT_EQ(d.selected(), selected) << row.what;
    }

    // Only the move against an end is worth telling the user about.
    EditorDocument d(makeProject(4));
    EXPECT_TRUE(d.shiftBlocked(-1));
    EXPECT_FALSE(d.shiftBlocked(0));
    EXPECT_FALSE(d.shiftBlocked(+1));
    EXPECT_FALSE(EditorDocument(nullptr).shiftBlocked(-1));
}

TEST(EditorDocument, EachEditIsOneStepAndOneRevision)
{
    struct Row {
        const char *what;
        std::function<bool(EditorDocument &)> op;
        std::vector<int> order;
        std::set<int64_t> selected;
        int64_t current;
    };
    // Frames 2 and 3 selected, 3 current, before each edit.
    const Row rows[] = {
        {"delete", [](EditorDocument &d) { return d.deleteSelected(); }, {0, 1, 4, 5}, {3}, 3},
        {"trim before", [](EditorDocument &d) { return d.trimBefore(); }, {3, 4, 5}, {0}, 0},
        {"trim after", [](EditorDocument &d) { return d.trimAfter(); }, {0, 1, 2, 3}, {3}, 3},
        {"reverse", [](EditorDocument &d) { return d.reverse(); }, {5, 4, 3, 2, 1, 0}, {2}, 2},
        {"reorder to the front", [](EditorDocument &d) { return d.reorderSelection(0); }, {2, 3, 0, 1, 4, 5}, {0, 1},
            0},
        {"shift right", [](EditorDocument &d) { return d.shiftSelection(+1); }, {0, 1, 4, 2, 3, 5}, {3, 4}, 3},
        {"delay", [](EditorDocument &d) { return d.applyDelay(5, true); }, {0, 1, 2, 3, 4, 5}, {2, 3}, 3},
        {"speed", [](EditorDocument &d) { return d.setSpeed(2); }, {0, 1, 2, 3, 4, 5}, {2, 3}, 3},
        {"pixels", [](EditorDocument &d) { return d.replacePixels([](const QImage &i) { return i.scaled(4, 3); }); },
            {0, 1, 2, 3, 4, 5}, {2, 3}, 3},
    };
    for (const Row &row : rows) {
        EditorDocument d(makeProject(6));
        d.select(2, Qt::NoModifier);
        d.select(3, Qt::ShiftModifier);
        const GifFrameList original = d.project()->frames;
        const uint64_t revision = d.revision();
        ASSERT_TRUE(row.op(d)) << row.what;
        EXPECT_EQ(orderOf(*d.project(), original), row.order) << row.what;
        EXPECT_EQ(d.selected(), row.selected) << row.what;
        EXPECT_EQ(d.current(), row.current) << row.what;
        EXPECT_EQ(d.undoDepth(), 1u) << row.what;
        EXPECT_EQ(d.revision(), revision + 1) << row.what;

        // Undo and redo are changes too, each of one revision.
        ASSERT_TRUE(d.undo()) << row.what;
        EXPECT_EQ(d.revision(), revision + 2) << row.what;
        EXPECT_EQ(d.project()->frames.size(), 6u) << row.what;
        ASSERT_TRUE(d.redo()) << row.what;
        EXPECT_EQ(d.revision(), revision + 3) << row.what;
        EXPECT_EQ(d.project()->frames.size(), row.order.size()) << row.what;
    }

    // Recording a step is no change of its own.
    EditorDocument d(makeProject(3));
    d.pushUndo();
    EXPECT_EQ(d.revision(), 0u);
    EXPECT_EQ(d.undoDepth(), 1u);
}

TEST(EditorDocument, DelaysAreHeldToTheirRangeAndBecomeTheBase)
{
    EditorDocument d(makeProject(4));
    d.select(1, Qt::NoModifier);
    d.select(2, Qt::ShiftModifier);
    ASSERT_TRUE(d.setSpeed(2));
    ASSERT_TRUE(d.applyDelay(1'000'000, true));
    EXPECT_EQ(delaysOf(*d.project()), (std::vector<int64_t> {30, 655350, 655350, 30}));
    EXPECT_EQ(d.speedFactor(), 1.0);
    EXPECT_EQ(d.baseDelay(d.project()->frames[1]), 655350);
    // The untouched frames keep their recorded delays as the base.
    ASSERT_TRUE(d.setSpeed(0.5));
    EXPECT_EQ(delaysOf(*d.project()), (std::vector<int64_t> {120, 1310700, 1310700, 120}));

    // Without a selection the current frame takes the delay.
    d.setCurrent(3);
    d.setSelection({});
    ASSERT_TRUE(d.applyDelay(-5, true));
    EXPECT_EQ(d.project()->frames[3]->delayMs, EditorDocument::minDelayMs);
    ASSERT_TRUE(d.applyDelay(70, false));
    EXPECT_EQ(delaysOf(*d.project()), std::vector<int64_t>(4, 70));
}

TEST(EditorDocument, UndoRestoresFramesDelaysAndTheSpeedBehindThem)
{
    EditorDocument d(makeProject(4));
    ASSERT_TRUE(d.setSpeed(2));
    d.select(1, Qt::NoModifier);
    ASSERT_TRUE(d.applyDelay(100, true));
    ASSERT_TRUE(d.setSpeed(2));
    EXPECT_EQ(delaysOf(*d.project()), (std::vector<int64_t> {30, 50, 30, 30}));

    // Back to the delay edit: 1x over the recorded delays, so a new speed
    // scales those and not the halved ones.
    ASSERT_TRUE(d.undo());
    EXPECT_EQ(d.speedFactor(), 1.0);
    EXPECT_EQ(delaysOf(*d.project()), (std::vector<int64_t> {30, 100, 30, 30}));
    ASSERT_TRUE(d.setSpeed(0.5));
    EXPECT_EQ(delaysOf(*d.project()), (std::vector<int64_t> {120, 200, 120, 120}));
    // A new edit leaves nothing to redo.
    EXPECT_EQ(d.redoDepth(), 0u);
    EXPECT_FALSE(d.redo());

    ASSERT_TRUE(d.undo());
    ASSERT_TRUE(d.undo());
    EXPECT_EQ(d.speedFactor(), 2.0);
    EXPECT_EQ(delaysOf(*d.project()), std::vector<int64_t>(4, 30));
    // After a redo too, the speed scales what it was recorded from.
    ASSERT_TRUE(d.redo());
    ASSERT_TRUE(d.setSpeed(4));
    EXPECT_EQ(delaysOf(*d.project()), (std::vector<int64_t> {15, 25, 15, 15}));

    // Order and count come back; the loop count is outside the history.
    d.selectLast();
    ASSERT_TRUE(d.reverse());
    d.setSelection({0, 1});
    ASSERT_TRUE(d.deleteSelected());
    const uint64_t revision = d.revision();
    ASSERT_TRUE(d.setLoopCount(3));
    EXPECT_EQ(d.revision(), revision + 1);
    EXPECT_EQ(d.undoDepth(), 5u);
    ASSERT_TRUE(d.undo());
    EXPECT_EQ(delaysOf(*d.project()), (std::vector<int64_t> {15, 15, 25, 15}));
    EXPECT_EQ(d.project()->loopCount, 3);
    // The current frame stays where it can and becomes the only selected one.
    EXPECT_EQ(d.current(), 0);
    EXPECT_EQ(d.selected(), (std::set<int64_t> {0}));
    ASSERT_TRUE(d.undo());
    EXPECT_EQ(delaysOf(*d.project()), (std::vector<int64_t> {15, 25, 15, 15}));
}

TEST(EditorDocument, KeepsTheLastFiftySteps)
{
    EditorDocument d(makeProject(2));
    for (int64_t edit = 1; edit <= 51; ++edit)
        ASSERT_TRUE(d.applyDelay(100 + edit, false));
    EXPECT_EQ(d.undoDepth(), EditorDocument::maxUndo);
    for (size_t i = 0; i < EditorDocument::maxUndo; ++i)
        ASSERT_TRUE(d.undo());
    EXPECT_FALSE(d.undo());
    // The state before the first edit was dropped.
    EXPECT_EQ(delaysOf(*d.project()), std::vector<int64_t>(2, 101));
    EXPECT_EQ(d.redoDepth(), EditorDocument::maxUndo);
}

TEST(EditorDocument, ResetStartsOverAndCounts)
{
    EditorDocument d(makeProject(3));
    ASSERT_TRUE(d.setSpeed(2));
    d.selectLast();
    const uint64_t revision = d.revision();
    d.reset(makeProject(5, 8, 6, 40)->frames);
    EXPECT_EQ(d.frameCount(), 5);
    EXPECT_EQ(d.revision(), revision + 1);
    EXPECT_EQ(d.undoDepth(), 0u);
    EXPECT_EQ(d.current(), 0);
    EXPECT_EQ(d.speedFactor(), 1.0);
    ASSERT_TRUE(d.setSpeed(2));
    EXPECT_EQ(delaysOf(*d.project()), std::vector<int64_t>(5, 20));
}

// The same edits, undos and redos on frames held in memory and on the same
// pictures kept in a frame store: after every step both show the same
// pictures with the same delays, so moving the pixels to disk changed nothing
// an edit does.
TEST(EditorDocument, AnEditSequenceGivesTheSameFramesFromTheStoreAsFromMemory)
{
    QTemporaryDir dir;
    FrameStore::Options options;
    options.root = dir.path();
    options.cacheBytes = 64 << 10; // a few frames: most reads decode
    const std::shared_ptr<FrameStore> store = FrameStore::create(RecordingInfo {}, options).store;
    ASSERT_TRUE(store);
    GifFrameList inMemory;
    GifFrameList stored;
    for (int i = 0; i < 24; ++i) {
        // Screen-like: a still background, a block that moves, a changing line.
        QImage image(45, 31, QImage::Format_ARGB32_Premultiplied);
        image.fill(qRgb(230, 230, 225));
        for (int x = 0; x < 10; ++x)
            for (int y = 0; y < 6; ++y)
                image.setPixel((i * 2 + x) % 45, 10 + y, qRgb(20 * (i % 12), 90, 200));
        for (int x = 0; x <= i; ++x)
            image.setPixel(x, 28, qRgb(0, 0, 0));
        inMemory.push_back(std::make_shared<GifFrame>(image, 40 + i));
        stored.push_back(std::make_shared<GifFrame>(store->append(image, i / 30.0), 40 + i));
    }
    EditorDocument memory(std::make_shared<GifProject>(inMemory, 30));
    EditorDocument disk(std::make_shared<GifProject>(stored, 30));

    const std::vector<std::pair<const char *, std::function<void(EditorDocument &)>>> steps {
        {"delete two",
            [](EditorDocument &d) {
                d.setSelection({3, 9});
                d.deleteSelected();
            }},
        {"reverse", [](EditorDocument &d) { d.reverse(); }},
        {"move a block",
            [](EditorDocument &d) {
                d.setSelection({4, 5, 6});
                d.reorderSelection(15);
            }},
        {"delay",
            [](EditorDocument &d) {
                d.setSelection({0, 1});
                d.applyDelay(120, true);
            }},
        {"speed", [](EditorDocument &d) { d.setSpeed(2.0); }},
        {"crop", [](EditorDocument &d) { d.replacePixels([](const QImage &i) { return i.copy(3, 2, 33, 21); }); }},
        {"undo", [](EditorDocument &d) { d.undo(); }},
        {"undo", [](EditorDocument &d) { d.undo(); }},
        {"redo", [](EditorDocument &d) { d.redo(); }},
        {"resize",
            [](EditorDocument &d) {
                d.replacePixels(
                    [](const QImage &i) { return i.scaled(17, 11, Qt::IgnoreAspectRatio, Qt::SmoothTransformation); });
            }},
        {"trim",
            [](EditorDocument &d) {
                d.setSelection({2});
                d.trimBefore();
            }},
        {"undo", [](EditorDocument &d) { d.undo(); }},
        {"undo", [](EditorDocument &d) { d.undo(); }},
        {"redo", [](EditorDocument &d) { d.redo(); }},
    };
    for (const auto &[name, step] : steps) {
        step(memory);
        step(disk);
        const GifFrameList &a = memory.project()->frames;
        const GifFrameList &b = disk.project()->frames;
        ASSERT_EQ(a.size(), b.size()) << name;
        for (size_t i = 0; i < a.size(); ++i) {
            ASSERT_EQ(a[i]->delayMs, b[i]->delayMs) << name << " frame " << i;
            ASSERT_EQ(a[i]->image(), b[i]->image()) << name << " frame " << i;
            // Edits keep the disk's frames on disk.
            ASSERT_EQ(b[i]->pixels()->store(), store) << name << " frame " << i;
        }
    }
    // Every step acted: two frames deleted, cropped, then resized again by the last redo.
    ASSERT_EQ(disk.project()->frames.size(), 22u);
    EXPECT_EQ(disk.project()->frames[0]->size(), QSize(17, 11));
    EXPECT_FALSE(store->waitForWrites());
    EXPECT_GT(store->stats().framesWritten, 24);
}
