#include "EditorTestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QSpinBox>

#include <gtest/gtest.h>

TEST(EditorHistory, KeepsFiftyEntriesAndBeepsOnTheFiftyFirstUndo)
{
    EditorController c(makeProject(3));
    for (int64_t edit = 1; edit <= 51; ++edit)
        c.applyDelay(100 + edit, false);
    EXPECT_EQ(c.undoDepth(), EditorController::maxUndo);

    for (int i = 0; i < 50; ++i)
        c.undoAction();
    EXPECT_EQ(c.beepCount(), 0);
    // The oldest entry (the state before the first edit) was dropped.
    EXPECT_EQ(delaysOf(*c.project()), (std::vector<int64_t> {101, 101, 101}));
    c.undoAction();
    EXPECT_EQ(c.beepCount(), 1);
    EXPECT_EQ(delaysOf(*c.project()), (std::vector<int64_t> {101, 101, 101}));
    EXPECT_EQ(c.redoDepth(), 50u);
}

TEST(EditorHistory, NewEditClearsRedoAndUndoRedoRoundTrip)
{
    EditorController c(makeProject(8));
    c.applyDelay(200, false);
    c.undoAction();
    EXPECT_EQ(delaysOf(*c.project()), std::vector<int64_t>(8, 60));
    c.redoAction();
    EXPECT_EQ(delaysOf(*c.project()), std::vector<int64_t>(8, 200));
    EXPECT_EQ(c.beepCount(), 0);

    c.undoAction();
    c.reverse();
    EXPECT_EQ(c.redoDepth(), 0u);
    c.redoAction();
    EXPECT_EQ(c.beepCount(), 1);
}

TEST(EditorHistory, EntriesShareImagesButNeverFrameObjects)
{
    EditorController c(makeProject(4));
    const GifFrameList live = c.project()->frames;
    c.applyDelay(90, false);
    c.undoAction();
    const GifFrameList restored = c.project()->frames;
    for (size_t i = 0; i < live.size(); ++i) {
        EXPECT_NE(restored[i], live[i]);
        EXPECT_EQ(restored[i]->pixels(), live[i]->pixels());
    }
    // A change to a live frame must not reach the redo entry.
    c.project()->frames[0]->delayMs = 999;
    c.redoAction();
    EXPECT_EQ(delaysOf(*c.project()), std::vector<int64_t>(4, 90));
}

TEST(EditorHistory, RestoreClampsCurrentAndResetsSelection)
{
    EditorController c(makeProject(10));
    c.selectFrame(4, Qt::NoModifier);
    c.trimAfter();
    ASSERT_EQ(c.project()->frames.size(), 5u);
    c.undoAction();
    c.selectFrame(9, Qt::NoModifier);
    c.selectFrame(7, Qt::ShiftModifier);
    c.redoAction();
    EXPECT_EQ(c.project()->frames.size(), 5u);
    EXPECT_EQ(c.current(), 4);
    EXPECT_EQ(c.selected(), (std::set<int64_t> {4}));
    EXPECT_EQ(c.anchor(), 4);
}

TEST(EditorHistory, SpeedsScaleBaseDelaysAndNeverCompound)
{
    struct Row {
        std::vector<QString> choices;
        bool undoBetween;
        int64_t expected;
    };
    const Row rows[] = {
        {{QStringLiteral("2×")}, false, 30},
        {{QStringLiteral("1.5×")}, false, 40},
        {{QStringLiteral("0.5×")}, false, 120},
        {{QStringLiteral("1.75×")}, false, 34},
        {{QStringLiteral("0.25×")}, false, 240},
        {{QStringLiteral("2×"), QStringLiteral("4×")}, false, 15},
        {{QStringLiteral("2×"), QStringLiteral("4×")}, true, 15},
        {{QStringLiteral("2×"), QStringLiteral("1×")}, false, 60},
    };
    for (const Row &row : rows) {
        EditorController c(makeProject(5));
        for (size_t i = 0; i < row.choices.size(); ++i) {
            if (i > 0 && row.undoBetween)
                c.undoAction();
            c.speedPopup()->setCurrentIndex(c.speedPopup()->findText(row.choices[i]));
            c.speedChanged();
        }
        EXPECT_EQ(delaysOf(*c.project()), std::vector<int64_t>(5, row.expected)) << row.choices.back().toStdString();
    }

    // 30 ms base delays at 4x: 7.5 rounds to 8, then the 10 ms floor.
    EditorController c(makeProject(3, 8, 6, 30));
    c.speedPopup()->setCurrentIndex(7);
    c.speedChanged();
    EXPECT_EQ(delaysOf(*c.project()), std::vector<int64_t>(3, 10));
}

TEST(EditorHistory, DelayResetsSpeedAndBecomesTheNewBase)
{
    EditorController c(makeProject(4));
    c.speedPopup()->setCurrentIndex(6);
    c.speedChanged();
    c.applyDelay(200, false);
    EXPECT_EQ(c.speedPopup()->currentText(), QStringLiteral("1×"));
    EXPECT_EQ(c.speedFactor(), 1.0);
    EXPECT_EQ(c.baseDelay(c.project()->frames[0]), 200);
    c.speedPopup()->setCurrentIndex(6);
    c.speedChanged();
    EXPECT_EQ(delaysOf(*c.project()), std::vector<int64_t>(4, 100));
}

TEST(EditorSelection, ClicksShiftRangesAndControlToggles)
{
    EditorController c(makeProject(8));
    c.selectFrame(2, Qt::NoModifier);
    c.selectFrame(5, Qt::ShiftModifier);
    EXPECT_EQ(c.selected(), (std::set<int64_t> {2, 3, 4, 5}));
    EXPECT_EQ(c.current(), 5);
    EXPECT_EQ(c.anchor(), 2);
    c.selectFrame(0, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_EQ(c.selected(), (std::set<int64_t> {0, 1, 2}));

    c.selectFrame(6, Qt::NoModifier);
    c.selectFrame(6, Qt::ControlModifier);
    EXPECT_EQ(c.selected(), (std::set<int64_t> {6}));
    c.selectFrame(8, Qt::NoModifier);
    c.selectFrame(-1, Qt::NoModifier);
    EXPECT_EQ(c.current(), 6);

    c.goFirst();
    c.goPrev();
    EXPECT_EQ(c.current(), 0);
    c.goLast();
    c.goNext();
    EXPECT_EQ(c.current(), 7);
    EXPECT_EQ(c.selected(), (std::set<int64_t> {7}));
    c.selectFrame(3, Qt::NoModifier);
    c.selectAll();
    EXPECT_EQ(c.selected().size(), 8u);
    EXPECT_EQ(c.current(), 3);
    EXPECT_EQ(c.anchor(), 0);
}

TEST(EditorRefresh, TitleStatusAndDelayControlsFollowTheCurrentFrame)
{
    EditorController c(makeProject(12, 800, 600));
    EXPECT_EQ(c.window()->windowTitle(), QStringLiteral("Quillo — Editor  ·  12 frames"));
    c.selectFrame(2, Qt::NoModifier);
    c.applyDelay(90, true);
    EXPECT_EQ(c.statusLabel()->text(), QStringLiteral("Frame 3 / 12   ·   800×600   ·   total 0.75s   ·   delay 90ms"));
    EXPECT_EQ(c.delayField()->text(), QStringLiteral("90"));
    EXPECT_EQ(c.delayStepper()->value(), 90);
    // Showing a value is not stepping: no edit was recorded for it.
    EXPECT_EQ(c.undoDepth(), 1u);
}

TEST(EditorHistory, UndoAndRedoShowTheSpeedOfTheRestoredDelays)
{
    EditorController c(makeProject(4));
    c.speedPopup()->setCurrentIndex(c.speedPopup()->findText(QStringLiteral("2×")));
    c.speedChanged();
    c.deleteSelected();
    c.undoAction(); // the delete: still at 2x
    EXPECT_EQ(c.speedPopup()->currentText(), QStringLiteral("2×"));
    EXPECT_EQ(delaysOf(*c.project()), std::vector<int64_t>(4, 30));
    c.undoAction(); // the speed change
    EXPECT_EQ(c.speedPopup()->currentText(), QStringLiteral("1×"));
    EXPECT_EQ(c.speedFactor(), 1.0);
    EXPECT_EQ(delaysOf(*c.project()), std::vector<int64_t>(4, 60));
    c.redoAction();
    EXPECT_EQ(c.speedPopup()->currentText(), QStringLiteral("2×"));
    // A new speed after the redo still scales the recorded delays, not the
    // doubled ones.
    c.speedPopup()->setCurrentIndex(c.speedPopup()->findText(QStringLiteral("0.5×")));
    c.speedChanged();
    EXPECT_EQ(delaysOf(*c.project()), std::vector<int64_t>(4, 120));
}
