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
        {950, 874}, // above the screen: inside, and held on the screen
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
        const Point p = controlBarFrame(c.region, {c.barWidth, 46}, screen).origin();
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

TEST(FrameLayout, Region_IsFittedOnTheScreenWhenMovedOrTyped_AndCutWhenResized)
{
    const Rect second {1440, -180, 1920, 1080};
    struct Case {
        const char *what;
        Rect region;
        Rect screen;
        Rect fitted;
        Rect cut;
    } cases[] = {
        {"inside", {100, 100, 640, 420}, screen, {100, 100, 640, 420}, {100, 100, 640, 420}},
        {"typed 99999 wide", {363, 174, 99999, 420}, screen, {0, 174, 1440, 420}, {363, 174, 1077, 420}},
        {"past the right edge", {1000, 100, 640, 420}, screen, {800, 100, 640, 420}, {1000, 100, 440, 420}},
        {"past the top edge", {100, 600, 640, 420}, screen, {100, 480, 640, 420}, {100, 600, 640, 300}},
        {"off the bottom left", {-50, -30, 640, 420}, screen, {0, 0, 640, 420}, {0, 0, 590, 390}},
        {"larger than the screen", {100, 100, 3000, 2000}, screen, {0, 0, 1440, 900}, {100, 100, 1340, 800}},
        {"second screen", {3000, 0, 640, 420}, second, {2720, 0, 640, 420}, {3000, 0, 360, 420}},
        // Less than the minimum would be left: fitted instead of cut.
        {"nearly gone", {1430, 100, 640, 420}, screen, {800, 100, 640, 420}, {800, 100, 640, 420}},
        {"no screen", {-50, 0, 640, 420}, {}, {-50, 0, 640, 420}, {-50, 0, 640, 420}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(fittedOnScreen(c.region, c.screen), c.fitted) << c.what;
        EXPECT_EQ(cutToScreen(c.region, c.screen), c.cut) << c.what;
    }
}

TEST(FrameLayout, ControlBar_StaysFourPointsInsideTheVisibleArea)
{
    const Rect belowPanel {0, 40, 1440, 860}; // a 40-point panel along the bottom
    struct Case {
        const char *what;
        Rect region;
        Rect visible;
        Point expected;
    } cases[] = {
        {"narrow region at the right edge", {1340, 100, 100, 300}, screen, {836, 108}},
        {"narrow region at the left edge", {0, 100, 100, 300}, screen, {4, 108}},
        {"short region at the top", {100, 870, 640, 30}, screen, {120, 850}},
        {"region down to the screen's bottom", {100, 0, 640, 420}, screen, {120, 8}},
        {"region behind a bottom panel", {100, 0, 640, 420}, belowPanel, {120, 44}},
    };
    for (const Case &c : cases) {
        const Rect bar = controlBarFrame(c.region, {600, 46}, c.visible);
        EXPECT_EQ(bar.origin(), c.expected) << c.what;
        EXPECT_EQ(bar.intersected(c.visible), bar) << c.what;
    }
}

TEST(FrameLayout, OutsidePlacement_KeepsBarAndTopBarOutTheRegionAndOnTheScreen_NearEachEdge)
{
    const Size bar {600, 46};
    const double topWidth = 80;
    struct Case {
        const char *what;
        Rect region;
        Rect expectedBar;
        std::optional<Rect> expectedTop;
        bool over;
    } cases[] = {
        {"middle: bar below, top bar above", {400, 300, 640, 300}, {420, 246, 600, 46}, Rect {680, 608, 80, 22}, false},
        {"bottom edge: bar above, top bar over it", {400, 10, 640, 300}, {420, 318, 600, 46}, Rect {680, 368, 80, 22},
            false},
        {"top edge: top bar below the bar", {400, 600, 640, 300}, {420, 546, 600, 46}, Rect {680, 520, 80, 22}, false},
        {"left edge", {0, 300, 200, 300}, {4, 246, 600, 46}, Rect {60, 608, 80, 22}, false},
        {"right edge", {1240, 300, 200, 300}, {836, 246, 600, 46}, Rect {1300, 608, 80, 22}, false},
        {"full height: beside, no room for the top bar", {0, 0, 700, 900}, {708, 4, 600, 46}, std::nullopt, false},
        {"full height at the right: beside on the left", {740, 0, 700, 900}, {132, 4, 600, 46}, std::nullopt, false},
        {"whole screen: over the region", {0, 0, 1440, 900}, {420, 8, 600, 46}, std::nullopt, true},
    };
    for (const Case &c : cases) {
        const OutsidePlacement p = outsidePlacement(c.region, bar, topWidth, screen);
        EXPECT_EQ(p.controlBar, c.expectedBar) << c.what;
        EXPECT_EQ(p.topBar, c.expectedTop) << c.what;
        EXPECT_EQ(p.barOverRegion, c.over) << c.what;
        // On the screen, and clear of the region and the border around it.
        const Rect screenInside {4, 4, 1432, 892};
        const Rect framed = overlayFrame(c.region, outsideBorderReach);
        EXPECT_EQ(p.controlBar.intersected(screenInside), p.controlBar) << c.what;
        EXPECT_EQ(p.controlBar.intersects(framed), c.over) << c.what;
        if (p.topBar) {
            EXPECT_EQ(p.topBar->intersected(screenInside), *p.topBar) << c.what;
            EXPECT_FALSE(p.topBar->intersects(framed)) << c.what;
            EXPECT_FALSE(p.topBar->intersects(p.controlBar)) << c.what;
        }
    }
}
