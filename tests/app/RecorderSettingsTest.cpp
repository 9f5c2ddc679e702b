#include "app/RecorderSettings.h"
#include "app/AppDelegate.h"
#include "capture/RegionModel.h"
#include "frameui/ControlBar.h"
#include "frameui/FrameController.h"

#include <QSettings>

#include <gtest/gtest.h>

using RecorderSettings::Stored;

namespace {

const ScreenInfo left {QStringLiteral("DP-1"), Rect {0, 0, 1920, 1080}, 1.0};
// To the right, its top 100 points below the left one's.
const ScreenInfo right {QStringLiteral("HDMI-1"), Rect {1920, -20, 1280, 1000}, 1.0};

} // namespace

TEST(RecorderSettings, StoresTheRegionFromItsScreensTopLeftAndPlacesItBack)
{
    // 300 x 200 points, 50 in from the left and 80 down from the top of the right screen.
    const Rect region {1970, 980 - 80 - 200, 300, 200};
    const Stored stored = RecorderSettings::store(region, right);
    EXPECT_EQ(stored.screen, QStringLiteral("HDMI-1"));
    EXPECT_EQ(RecorderSettings::format(stored), QStringLiteral("50,80,300,200"));

    struct Row {
        const char *label;
        std::vector<ScreenInfo> screens;
        std::optional<Rect> placed;
    } rows[] = {
        {"same screens", {left, right}, region},
        {"the screen moved in the layout", {left, {right.name, Rect {0, 1080, 1280, 1000}, 1.0}},
            Rect {50, 1080 + 1000 - 80 - 200, 300, 200}},
        {"the screen is gone", {left}, std::nullopt},
        {"no screens", {}, std::nullopt},
        // 50 + 300 > 320: no longer fits, even though part of it would show.
        {"a smaller resolution", {left, {right.name, Rect {1920, 0, 320, 1000}, 1.0}}, std::nullopt},
        {"just fits", {left, {right.name, Rect {1920, 0, 350, 280}, 1.0}}, Rect {1970, 0, 300, 200}},
        {"one point short", {left, {right.name, Rect {1920, 0, 350, 279}, 1.0}}, std::nullopt},
    };
    for (const Row &row : rows)
        EXPECT_EQ(RecorderSettings::place(stored, row.screens), row.placed) << row.label;
}

TEST(RecorderSettings, ParseTakesOnlyFourNumbersAndAScreen)
{
    const auto parsed = RecorderSettings::parse(QStringLiteral("DP-1"), QStringLiteral("50,80.5,300,200"));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->screen, QStringLiteral("DP-1"));
    EXPECT_EQ(parsed->y, 80.5);
    EXPECT_EQ(parsed->height, 200);
    for (const char *bad : {"", "50,80,300", "50,80,300,200,1", "a,b,c,d", "50,80,inf,200", "50;80;300;200"})
        EXPECT_FALSE(RecorderSettings::parse(QStringLiteral("DP-1"), QString::fromLatin1(bad))) << bad;
    EXPECT_TRUE(RecorderSettings::parse(QString(), QStringLiteral("50,80,300,200")));
    // Negative offsets parse but never fit.
    const auto outside = RecorderSettings::parse(QStringLiteral("DP-1"), QStringLiteral("-10,0,300,200"));
    ASSERT_TRUE(outside);
    EXPECT_FALSE(RecorderSettings::place(*outside, {left}));
}

TEST(RecorderSettings, TheNextLaunchShowsTheRegionAndRateOfTheLastRecording)
{
    QSettings("Quillo", "Quillo").clear();
    AppDelegate first({QStringLiteral("quillo")});
    first.applicationDidFinishLaunching();
    ASSERT_TRUE(first.frame);
    const Rect centred = first.lastRect;
    const std::vector<ScreenInfo> screens = ScreenUtil::screens();
    ASSERT_FALSE(screens.empty());
    const Rect &f = screens.front().frame;
    const Rect corner {f.minX() + 10, f.maxY() - 10 - 240, 320, 240};
    first.frame->region()->set(corner);
    first.frame->controlBar()->setFps(24);
    first.frame->onClose(); // the frame's close button: remembers, then quits
    first.frame->closeAll();

    AppDelegate second({QStringLiteral("quillo")});
    second.applicationDidFinishLaunching();
    EXPECT_EQ(second.lastRect, corner);
    ASSERT_TRUE(second.frame);
    EXPECT_EQ(second.frame->region()->rect(), corner);
    EXPECT_EQ(second.frame->controlBar()->fps(), 24);
    second.frame->closeAll();

    // A self-test neither reads nor writes them.
    AppDelegate selfTest({QStringLiteral("quillo"), QStringLiteral("--selftestx")});
    selfTest.applicationDidFinishLaunching();
    EXPECT_EQ(selfTest.lastRect, centred);
    ASSERT_TRUE(selfTest.frame);
    EXPECT_EQ(selfTest.frame->controlBar()->fps(), 15);
    selfTest.frame->closeAll();

    QSettings("Quillo", "Quillo").setValue(RecorderSettings::screenKey, QStringLiteral("no-such-screen"));
    AppDelegate third({QStringLiteral("quillo")});
    third.applicationDidFinishLaunching();
    EXPECT_EQ(third.lastRect, centred);
    third.frame->closeAll();
}
