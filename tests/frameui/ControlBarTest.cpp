#include "frameui/ControlBar.h"
#include "capture/RegionModel.h"
#include "capture/ScreenUtil.h"
#include "frameui/FloatWindow.h"
#include "support/TestUtil.h"

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

class ControlBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        screen = ScreenUtil::screen({0, 0, 1, 1}).frame;
        ASSERT_FALSE(screen.isEmpty());
        region = std::make_shared<RegionModel>(Rect {screen.x + 40, screen.y + 30, 300, 200});
        bar = std::make_unique<ControlBar>(region);
        // What the frame controller does on every change.
        region->addListener([this](const Rect &r) {
            ++notifications;
            bar->reposition(r);
            bar->syncFields(r);
        });
        notifications = 0;
    }

    void enter(QLineEdit *field, const QString &text)
    {
        field->setText(text);
        bar->commit(field);
    }

    Rect screen;
    std::shared_ptr<RegionModel> region;
    std::unique_ptr<ControlBar> bar;
    int notifications = 0;
};

} // namespace

TEST_F(ControlBarTest, StartsIdle_WithFps15_AndTheRegionInItsFields)
{
    EXPECT_EQ(bar->fps(), 15);
    EXPECT_EQ(bar->fpsField()->text(), QStringLiteral("15"));
    EXPECT_EQ(bar->wField()->text(), QStringLiteral("300"));
    EXPECT_EQ(bar->hField()->text(), QStringLiteral("200"));
    EXPECT_EQ(bar->xField()->text(), QStringLiteral("40"));
    EXPECT_EQ(bar->yField()->text(), QString::number(screen.height - 230));
    EXPECT_TRUE(bar->recButton()->isEnabled());
    EXPECT_FALSE(bar->stopButton()->isEnabled());
    EXPECT_TRUE(bar->closeButton()->isEnabled());
    EXPECT_EQ(bar->recButton()->text(), QStringLiteral("● REC"));
    EXPECT_EQ(bar->closeButton()->text(), QStringLiteral("✕"));
    EXPECT_GE(bar->barHeight(), 46);
}

TEST_F(ControlBarTest, Fps_IsClampedToOneToSixty_AndShownClamped_BadEntryKeepsTheLastValue)
{
    struct Case {
        QString text;
        int64_t fps;
    } cases[] = {
        {"0", 1},
        {"-7", 1},
        {"120", 60},
        {"30/2", 15},
        {"24", 24},
        {"abc", 24},
        {"", 24},
        {"1/0", 24},
        {"60", 60},
    };
    for (const Case &c : cases) {
        enter(bar->fpsField(), c.text);
        EXPECT_EQ(bar->fps(), c.fps) << c.text.toStdString();
        EXPECT_EQ(bar->fpsField()->text(), QString::number(c.fps)) << c.text.toStdString();
    }
    EXPECT_EQ(notifications, 0);
}

TEST_F(ControlBarTest, GeometryEntries_ChangeTheRegion_AndComeBackNormalised)
{
    const Rect start = region->rect();
    enter(bar->wField(), QStringLiteral("1000/2"));
    EXPECT_EQ(region->rect(), (Rect {start.x, start.y, 500, 200}));
    EXPECT_EQ(bar->wField()->text(), QStringLiteral("500"));

    enter(bar->wField(), QStringLiteral("-50"));
    EXPECT_EQ(region->rect().width, 24);
    EXPECT_EQ(bar->wField()->text(), QStringLiteral("24"));

    // H keeps the top edge.
    const double top = region->rect().maxY();
    enter(bar->hField(), QStringLiteral("100+50"));
    EXPECT_EQ(region->rect().height, 150);
    EXPECT_EQ(region->rect().maxY(), top);

    enter(bar->xField(), QStringLiteral("0"));
    EXPECT_EQ(region->rect().minX(), screen.minX());
    EXPECT_EQ(bar->xField()->text(), QStringLiteral("0"));

    enter(bar->yField(), QStringLiteral("0"));
    EXPECT_EQ(region->rect().maxY(), screen.maxY());
    EXPECT_EQ(region->rect().height, 150);

    enter(bar->yField(), QStringLiteral("10.6"));
    EXPECT_EQ(region->rect().maxY(), screen.maxY() - 11);
    EXPECT_EQ(bar->yField()->text(), QStringLiteral("11"));
}

TEST_F(ControlBarTest, EntryThatDoesNotEvaluate_LeavesTheRegion_AndShowsTheCurrentValueAgain)
{
    const Rect start = region->rect();
    for (const QString &text : {QString(), QStringLiteral("wide"), QStringLiteral("3/0"), QStringLiteral("1e999")}) {
        enter(bar->wField(), text);
        enter(bar->xField(), text);
        EXPECT_EQ(region->rect(), start) << text.toStdString();
        EXPECT_EQ(bar->wField()->text(), QStringLiteral("300")) << text.toStdString();
        EXPECT_EQ(bar->xField()->text(), QStringLiteral("40")) << text.toStdString();
    }
    EXPECT_EQ(notifications, 0);
}

TEST_F(ControlBarTest, FieldBeingTyped_IsNotOverwritten_ButTheOthersFollowTheRegion)
{
    bar->makeKeyAndFront();
    ASSERT_TRUE(waitUntil([&] { return bar->window()->isActiveWindow(); }));
    bar->hField()->setFocus();
    ASSERT_TRUE(waitUntil([&] { return bar->hField()->hasFocus(); }));
    bar->hField()->setText(QStringLiteral("12"));

    region->set({screen.x + 70, screen.y + 50, 320, 210}); // a drag of the frame
    EXPECT_EQ(bar->wField()->text(), QStringLiteral("320"));
    EXPECT_EQ(bar->xField()->text(), QStringLiteral("70"));
    EXPECT_EQ(bar->yField()->text(), QString::number(screen.height - 260));
    EXPECT_EQ(bar->hField()->text(), QStringLiteral("12"));

    // Return ends the entry: the field shows the normalised value although
    // it keeps the focus.
    enter(bar->hField(), QStringLiteral("1000/8"));
    EXPECT_EQ(region->rect().height, 125);
    EXPECT_EQ(bar->hField()->text(), QStringLiteral("125"));

    // An entry that changes nothing notifies nobody, so the typed form stays.
    enter(bar->hField(), QStringLiteral("250/2"));
    EXPECT_EQ(bar->hField()->text(), QStringLiteral("250/2"));
    bar->close();
}

TEST_F(ControlBarTest, Buttons_CallTheirCallbacks_AndRecordingSwapsWhichIsEnabled)
{
    bar->recButton()->click(); // unset callbacks are skipped
    std::vector<QString> calls;
    bar->onRecord = [&] { calls.push_back("rec"); };
    bar->onStop = [&] { calls.push_back("stop"); };
    bar->onClose = [&] { calls.push_back("close"); };
    bar->recButton()->click();
    bar->setRecording(true);
    EXPECT_FALSE(bar->recButton()->isEnabled());
    EXPECT_TRUE(bar->stopButton()->isEnabled());
    bar->stopButton()->click();
    bar->setRecording(false);
    EXPECT_TRUE(bar->recButton()->isEnabled());
    EXPECT_FALSE(bar->stopButton()->isEnabled());
    bar->closeButton()->click();
    EXPECT_EQ(calls, (std::vector<QString> {"rec", "stop", "close"}));
}

TEST_F(ControlBarTest, Reposition_PutsTheWindowInsideTheRegionsBottom)
{
    region->set({screen.x + 20, screen.y + 40, screen.width - 100, 300});
    const Rect frame = bar->window()->frame();
    EXPECT_EQ(frame.y, screen.y + 48);
    EXPECT_EQ(frame.width, bar->barWidth());
    EXPECT_EQ(frame.height, bar->barHeight());
    EXPECT_DOUBLE_EQ(frame.midX(), region->rect().midX());
}

TEST_F(ControlBarTest, EntriesTheScreenCannotHold_AreHeldToIt_AndTheFieldsSayWhatTheRegionBecame)
{
    const QString w = QString::number(screen.width), h = QString::number(screen.height),
                  right = QString::number(screen.width - 300);
    struct Case {
        QLineEdit *field;
        QString text;
        QStringList shown; // W, H, X, Y afterwards
    } cases[] = {
        {bar->wField(), "99999", {w, "200", "0", QString::number(screen.height - 230)}},
        {bar->hField(), "99999", {w, h, "0", "0"}},
        {bar->wField(), "300", {"300", h, "0", "0"}},
        {bar->xField(), "5000", {"300", h, right, "0"}},
        // Already at the right edge: nothing changes, and the field still
        // shows where the region is, not what was typed.
        {bar->xField(), "5000", {"300", h, right, "0"}},
        {bar->yField(), "-20", {"300", h, right, "0"}},
    };
    for (const Case &c : cases) {
        enter(c.field, c.text);
        const Rect r = region->rect();
        EXPECT_EQ(r.intersected(screen), r) << c.text.toStdString();
        EXPECT_EQ(
            (QStringList {bar->wField()->text(), bar->hField()->text(), bar->xField()->text(), bar->yField()->text()}),
            c.shown)
            << c.text.toStdString();
    }
}

TEST_F(ControlBarTest, Countdown_IsOneOfTheChoices_AndRemembered)
{
    const std::pair<int, int> cases[] = {{3, 3}, {7, 0}, {10, 10}, {-1, 0}};
    for (const auto &[chosen, kept] : cases) {
        bar->setCountdownSeconds(chosen);
        EXPECT_EQ(ControlBar(region).countdownSeconds(), kept) << chosen; // the next frame's
    }
    bar->countdownMenu()->actions().at(2)->trigger();
    EXPECT_EQ(bar->countdownSeconds(), 5);
    EXPECT_EQ(bar->countdownButton()->toolTip(), QStringLiteral("Countdown before recording: 5 seconds"));
    bar->setCountdownSeconds(0);
}
