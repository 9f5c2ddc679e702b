#include "frameui/FrameLayout.h"

#include <gtest/gtest.h>

using namespace FrameLayout;

namespace {

const Rect screen {0, 0, 1440, 900};

} // namespace

TEST(FrameLayout, TopBar_FloatsAboveTheRegion_OrMovesInsideNearTheScreenTop)
{
    struct Case {
        double regionTop;
        double expectedY;
    } cases[] = {
        {800, 807}, // 807 + 22 = 829 <= 896: above
        {867, 874}, // 33 points from the top: still above (874 + 22 = 896)
        {868, 840}, // 32 points from the top: inside, 6 below the top edge
        {900, 872}, // flush with the screen's top
        {950, 922}, // above the screen: inside all the same
    };
    for (const Case &c : cases) {
        const Rect region {400, c.regionTop - 300, 640, 300};
        EXPECT_EQ(topBarFrame(region, 100, screen).y, c.expectedY) << "region top " << c.regionTop;
        EXPECT_EQ(topBarFrame(region, 100, screen).height, TOPBAR_H);
    }
}

TEST(FrameLayout, TopBar_CentredOnTheRegion_ButKeptFourPointsInsideTheScreen)
{
    struct Case {
        Rect region;
        double width;
        double expectedX;
    } cases[] = {
        {{400, 100, 640, 300}, 100, 670}, // centred: 720 - 50
        {{0, 100, 60, 300}, 100, 4}, // flush left: 4 from the screen's left edge
        {{-500, 100, 200, 300}, 100, 4}, // off the left: still on screen
        {{1380, 100, 60, 300}, 100, 1336}, // flush right: ends 4 from the right edge
        {{400, 100, 640, 300}, 1500, -64}, // wider than the screen: the right bound wins
    };
    for (const Case &c : cases)
        EXPECT_EQ(topBarFrame(c.region, c.width, screen).x, c.expectedX) << "width " << c.width;

    // A second screen to the right: the bounds are that screen's.
    const Rect right {1440, 0, 1920, 1080};
    EXPECT_EQ(topBarFrame({1440, 100, 60, 300}, 100, right).x, 1444);
}

TEST(FrameLayout, TopBarWidth_IsTextPlus22_AtLeast54)
{
    EXPECT_EQ(topBarWidth(0), 54);
    EXPECT_EQ(topBarWidth(32), 54);
    EXPECT_EQ(topBarWidth(32.2), 55);
    EXPECT_EQ(topBarWidth(61.5), 84);
}

TEST(FrameLayout, Grabbers_CentredOnCornersAndEdges_WithTwoPointGaps)
{
    const Rect r {100, 200, 640, 420};
    struct Case {
        Anchor anchor;
        Rect expected;
    } cases[] = {
        {Anchor::topLeft, {91, 611, 18, 18}},
        {Anchor::top, {111, 611, 618, 18}},
        {Anchor::topRight, {731, 611, 18, 18}},
        {Anchor::right, {731, 211, 18, 398}},
        {Anchor::bottomRight, {731, 191, 18, 18}},
        {Anchor::bottom, {111, 191, 618, 18}},
        {Anchor::bottomLeft, {91, 191, 18, 18}},
        {Anchor::left, {91, 211, 18, 398}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(grabberFrame(c.anchor, r), c.expected) << static_cast<int>(c.anchor);

    // The corner grabber ends at minX + 9, the edge grabber starts at minX + 11.
    EXPECT_EQ(grabberFrame(Anchor::top, r).minX() - grabberFrame(Anchor::topLeft, r).maxX(), 2);
}

TEST(FrameLayout, EdgeGrabbers_NeverThinnerThanOnePoint)
{
    struct Case {
        double size;
        double expected;
    } cases[] = {{24, 2}, {23, 1}, {22, 1}, {10, 1}, {0, 1}};
    for (const Case &c : cases) {
        const Rect r {0, 0, c.size, c.size};
        EXPECT_EQ(grabberFrame(Anchor::top, r).width, c.expected) << c.size;
        EXPECT_EQ(grabberFrame(Anchor::bottom, r).width, c.expected) << c.size;
        EXPECT_EQ(grabberFrame(Anchor::left, r).height, c.expected) << c.size;
        EXPECT_EQ(grabberFrame(Anchor::right, r).height, c.expected) << c.size;
    }
}

TEST(FrameLayout, Overlay_IsTheRegionGrownByFive)
{
    EXPECT_EQ(overlayFrame({100, 200, 640, 420}), (Rect {95, 195, 650, 430}));
}

TEST(FrameLayout, Labels)
{
    EXPECT_EQ(sizeLabel({0, 0, 640, 420}), QStringLiteral("640 × 420"));
    EXPECT_EQ(sizeLabel({0, 0, 640.9, 23.5}), QStringLiteral("640 × 23"));
    EXPECT_EQ(sizeLabel({0, 0, 1e300, 24}), QStringLiteral("9200000000000000000 × 24"));
    EXPECT_EQ(recordingLabel(0), QStringLiteral("● REC   0"));
    EXPECT_EQ(recordingLabel(1234), QStringLiteral("● REC   1234"));
}

TEST(FrameLayout, ControlBar_SitsEightAboveTheBottom_CentredOrKeptEightInside)
{
    struct Case {
        Rect region;
        double barWidth;
        Point expected;
    } cases[] = {
        {{100, 200, 300, 420}, 480, {10, 208}}, // too wide: centred, overhangs both sides
        {{100, 200, 600, 420}, 480, {160, 208}}, // fits: centred
        {{100, 200, 496, 420}, 480, {108, 208}}, // exactly fits with 8 to spare on each side
        {{100, 200, 495, 420}, 480, {107.5, 208}}, // one short: centred, 7.5 from each side
    };
    for (const Case &c : cases) {
        const Point p = controlBarOrigin(c.region, c.barWidth);
        EXPECT_EQ(p, c.expected) << c.region.width;
        if (c.barWidth <= c.region.width - 16) {
            EXPECT_GE(p.x, c.region.minX() + 8);
            EXPECT_LE(p.x + c.barWidth, c.region.maxX() - 8);
        }
    }
}

TEST(FrameLayout, Fields_MeasureXFromTheScreensLeft_AndYDownFromItsTop)
{
    const Rect second {1440, -180, 1920, 1080};
    struct Case {
        Rect region;
        Rect screen;
        FieldValues expected;
    } cases[] = {
        {{400, 240, 640, 420}, screen, {640, 420, 400, 240}}, {{0, 480, 640.7, 420.2}, screen, {640, 420, 0, 0}},
        {{1540, 100, 300, 200}, second, {300, 200, 100, 600}},
        {{-20, 850, 300, 200}, screen, {300, 200, -20, -150}}, // off the screen: negative, not clamped
    };
    for (const Case &c : cases)
        EXPECT_EQ(fieldValues(c.region, c.screen), c.expected) << c.region.x;
}

TEST(FrameLayout, XAndYEntries_KeepTheSize_NegativeCountsAsZero)
{
    const Rect r {400, 240, 640, 420};
    EXPECT_EQ(withX(r, screen, 0), (Rect {0, 240, 640, 420}));
    EXPECT_EQ(withX(r, screen, -30), (Rect {0, 240, 640, 420}));
    EXPECT_EQ(withX(r, {1440, 0, 1920, 1080}, 50), (Rect {1490, 240, 640, 420}));
    EXPECT_EQ(withY(r, screen, 0), (Rect {400, 480, 640, 420})); // top edge on the screen's top
    EXPECT_EQ(withY(r, screen, 100), (Rect {400, 380, 640, 420}));
    EXPECT_EQ(withY(r, screen, -5), (Rect {400, 480, 640, 420}));
    EXPECT_EQ(withY(r, screen, 5000), (Rect {400, -4520, 640, 420})); // not bounded by the screen
}

TEST(FrameLayout, Fps_HeldBetweenOneAndSixty)
{
    const std::pair<int64_t, int64_t> cases[] = {{0, 1}, {-5, 1}, {1, 1}, {15, 15}, {60, 60}, {61, 60}, {120, 60}};
    for (const auto &[in, out] : cases)
        EXPECT_EQ(clampedFps(in), out) << in;
}
