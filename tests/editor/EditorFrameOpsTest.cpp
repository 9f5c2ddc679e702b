#include "EditorTestSupport.h"

#include "base/Log.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSpinBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

TEST(EditorFrameOps, DeleteTrimAndReverseKeepTheRightFramesAndSelection)
{
    {
        EditorController c(makeProject(10));
        c.selectFrame(5, Qt::NoModifier);
        c.selectFrame(3, Qt::ShiftModifier);
        const GifFrameList original = c.project()->frames;
        c.deleteSelected();
        EXPECT_EQ(orderOf(*c.project(), original), (std::vector<int> {0, 1, 2, 6, 7, 8, 9}));
        EXPECT_EQ(c.current(), 3);
        EXPECT_EQ(c.selected(), (std::set<int64_t> {3}));
    }
    {
        // Deleting the tail moves the current frame onto the new last one.
        EditorController c(makeProject(5));
        c.selectFrame(3, Qt::NoModifier);
        c.selectFrame(4, Qt::ShiftModifier);
        c.deleteSelected();
        EXPECT_EQ(c.current(), 2);
    }
    {
        EditorController c(makeProject(10));
        c.selectFrame(3, Qt::NoModifier);
        const GifFrameList original = c.project()->frames;
        c.trimBefore();
        EXPECT_EQ(orderOf(*c.project(), original), (std::vector<int> {3, 4, 5, 6, 7, 8, 9}));
        EXPECT_EQ(c.current(), 0);
        c.selectFrame(4, Qt::NoModifier);
        c.trimAfter();
        EXPECT_EQ(orderOf(*c.project(), original), (std::vector<int> {3, 4, 5, 6, 7}));
        EXPECT_EQ(c.current(), 4);
    }
    {
        EditorController c(makeProject(5));
        c.selectFrame(1, Qt::NoModifier);
        const GifFrameList original = c.project()->frames;
        c.reverse();
        EXPECT_EQ(orderOf(*c.project(), original), (std::vector<int> {4, 3, 2, 1, 0}));
        EXPECT_EQ(c.current(), 3);
        EXPECT_EQ(c.project()->frames[size_t(c.current())], original[1]);
    }
}

TEST(EditorFrameOps, RefusalsChangeNothingAndRecordNoHistory)
{
    struct Row {
        const char *what;
        int frames;
        std::function<void(EditorController &)> setup;
        std::function<void(EditorController &)> op;
        bool beeps;
    };
    const Row rows[] = {
        {"delete the only frame", 1, [](EditorController &) {}, [](EditorController &c) { c.deleteSelected(); }, true},
        {"delete every frame", 4, [](EditorController &c) { c.selectAll(); },
            [](EditorController &c) { c.deleteSelected(); }, true},
        {"trim before the first frame", 4, [](EditorController &) {}, [](EditorController &c) { c.trimBefore(); },
            true},
        {"trim after the last frame", 4, [](EditorController &c) { c.goLast(); },
            [](EditorController &c) { c.trimAfter(); }, true},
        {"shift left of frame 0", 4,
            [](EditorController &c) {
                clickSelect(c, {0, 2});
            },
            [](EditorController &c) { c.shiftSelection(-1); }, true},
        {"shift right past the end", 4,
            [](EditorController &c) {
                clickSelect(c, {1, 3});
            },
            [](EditorController &c) { c.shiftSelection(+1); }, true},
        {"reverse one frame", 1, [](EditorController &) {}, [](EditorController &c) { c.reverse(); }, false},
        {"move a block onto itself (before)", 6,
            [](EditorController &c) {
                clickSelect(c, {2, 3});
            },
            [](EditorController &c) { c.reorderSelection(2); }, false},
        {"move a block onto itself (after)", 6,
            [](EditorController &c) {
                clickSelect(c, {2, 3});
            },
            [](EditorController &c) { c.reorderSelection(4); }, false},
        {"move the last frame past the end", 6, [](EditorController &c) { c.goLast(); },
            [](EditorController &c) { c.reorderSelection(99); }, false},
        {"shift by zero", 6, [](EditorController &) {}, [](EditorController &c) { c.shiftSelection(0); }, false},
    };
    for (const Row &row : rows) {
        EditorController c(makeProject(row.frames));
        row.setup(c);
        const GifFrameList before = c.project()->frames;
        const int beeps = c.beepCount();
        row.op(c);
        EXPECT_EQ(c.project()->frames, before) << row.what;
        EXPECT_EQ(c.undoDepth(), 0u) << row.what;
        EXPECT_EQ(c.beepCount() - beeps, row.beeps ? 1 : 0) << row.what;
    }
}

TEST(EditorFrameOps, MovesAndShiftsKeepEveryFrameExactlyOnce)
{
    struct Row {
        const char *what;
        std::vector<int64_t> selection;
        std::function<void(EditorController &)> op;
        std::vector<int> order;
        std::set<int64_t> selected;
    };
    const Row rows[] = {
        {"first frame to slot 3", {0}, [](EditorController &c) { c.reorderSelection(3); }, {1, 2, 0, 3, 4, 5}, {2}},
        {"sparse to the end", {0, 2, 4}, [](EditorController &c) { c.reorderSelection(6); }, {1, 3, 5, 0, 2, 4},
            {3, 4, 5}},
        {"sparse to the front", {5, 1, 3}, [](EditorController &c) { c.reorderSelection(0); }, {1, 3, 5, 0, 2, 4},
            {0, 1, 2}},
        {"block one place right", {2, 3}, [](EditorController &c) { c.reorderSelection(5); }, {0, 1, 4, 2, 3, 5},
            {3, 4}},
        {"slot beyond the end", {1}, [](EditorController &c) { c.reorderSelection(40); }, {0, 2, 3, 4, 5, 1}, {5}},
        {"shift sparse right", {1, 3}, [](EditorController &c) { c.shiftSelection(+1); }, {0, 2, 1, 3, 4, 5}, {2, 3}},
        {"shift block left", {3, 4}, [](EditorController &c) { c.moveLeft(); }, {0, 1, 3, 4, 2, 5}, {2, 3}},
    };
    for (const Row &row : rows) {
        EditorController c(makeProject(6));
        clickSelect(c, row.selection);
        const GifFrameList original = c.project()->frames;
        row.op(c);
        EXPECT_EQ(orderOf(*c.project(), original), row.order) << row.what;
        EXPECT_EQ(c.selected(), row.selected) << row.what;
        EXPECT_EQ(c.current(), *row.selected.begin()) << row.what;
        EXPECT_EQ(c.anchor(), c.current()) << row.what;
        EXPECT_EQ(c.undoDepth(), 1u) << row.what;
        c.undoAction();
        EXPECT_EQ(c.project()->frames.size(), 6u) << row.what;
    }
}

TEST(EditorFrameOps, DelayTextFallsBackAndIsRaisedToTenMilliseconds)
{
    struct Row {
        const char *text;
        int64_t expected;
    };
    const Row rows[] = {
        {"60*2", 120},
        {"5", 10},
        {"abc", 10},
        {"75 ms", 75},
        {"-40", 10},
        {"", 10},
        {"655350", 655350},
        {"99999999999999999999", 655350},
        {"1000000000000", 655350},
    };
    for (const Row &row : rows) {
        EditorController c(makeProject(4));
        c.selectFrame(1, Qt::NoModifier);
        c.selectFrame(2, Qt::ShiftModifier);
        c.delayField()->setText(QString::fromUtf8(row.text));
        c.delayCommitted();
        EXPECT_EQ(delaysOf(*c.project()), (std::vector<int64_t> {60, row.expected, row.expected, 60})) << row.text;
    }

    EditorController huge(makeProject(3));
    huge.delayField()->setText(QStringLiteral("99999999999999999999"));
    huge.applyDelayToAll();
    EXPECT_EQ(huge.project()->totalDurationMs(), 3 * 655350);
    EXPECT_EQ(huge.delayField()->text(), QStringLiteral("655350"));

    EditorController c(makeProject(8));
    c.delayField()->setText(QStringLiteral("200"));
    c.applyDelayToAll();
    EXPECT_EQ(delaysOf(*c.project()), std::vector<int64_t>(8, 200));
    EXPECT_EQ(c.speedPopup()->currentText(), QStringLiteral("1×"));
    EXPECT_EQ(c.undoDepth(), 1u);
}

TEST(EditorFrameOps, LoopChoiceSetsTheCountWithoutHistory)
{
    const std::pair<int, int64_t> rows[] = {{0, 0}, {1, 1}, {2, 3}, {3, 5}};
    for (const auto &[index, count] : rows) {
        EditorController c(makeProject(3));
        c.loopPopup()->setCurrentIndex(index);
        c.loopChanged();
        EXPECT_EQ(c.project()->loopCount, count);
        EXPECT_EQ(c.undoDepth(), 0u);

        auto project = makeProject(2);
        project->loopCount = count;
        EditorController reopened(project);
        EXPECT_EQ(reopened.loopPopup()->currentIndex(), index);
    }
}

TEST(EditorFrameOps, StepperWritesTheSelectionToTheLog)
{
    QTemporaryDir state;
    ASSERT_TRUE(state.isValid());
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    if (!Log::path().startsWith(state.path()))
        GTEST_SKIP() << "the log was already placed by an earlier test in this process";

    EditorController c(makeProject(5));
    c.selectFrame(2, Qt::NoModifier);
    c.selectFrame(3, Qt::ShiftModifier);
    c.delayStepper()->setValue(130);
    EXPECT_EQ(delaysOf(*c.project()), (std::vector<int64_t> {60, 60, 130, 130, 60}));
    Log::flush();
    QFile log(Log::path());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains(QStringLiteral("delayStepped → 130 (selected [2, 3])\n")));
}
