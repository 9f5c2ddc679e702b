#include "capture/RegionModel.h"
#include "capture/Anchor.h"
#include "capture/ScreenUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct Recorder {
    std::vector<Rect> seen;
    std::function<void(const Rect &)> listener()
    {
        return [this](const Rect &r) { seen.push_back(r); };
    }
};

} // namespace

TEST(RegionModel, Set_RoundsHalvesAwayAndRaisesToMinimum_NotifyingOnce)
{
    RegionModel model({0, 0, 100, 100});
    Recorder a, b;
    model.addListener(a.listener());
    model.addListener(b.listener());
    model.set({10.4, 20.5, 100.5, 10});
    const Rect expected {10, 21, 101, 24};
    EXPECT_EQ(model.rect(), expected);
    ASSERT_EQ(a.seen.size(), 2u);
    EXPECT_EQ(a.seen.back(), expected);
    ASSERT_EQ(b.seen.size(), 2u);
    EXPECT_EQ(b.seen.back(), expected);
}

TEST(RegionModel, AddListener_CallsAtOnceWithCurrentRect_EvenUnnormalised)
{
    RegionModel model({0.25, 0.5, 10, 10}); // the constructor stores as given
    Recorder r;
    model.addListener(r.listener());
    ASSERT_EQ(r.seen.size(), 1u);
    EXPECT_EQ(r.seen[0], (Rect {0.25, 0.5, 10, 10}));
}

TEST(RegionModel, UnchangedOrSilentSets_NotifyNobody)
{
    RegionModel model({50, 60, 200, 100});
    Recorder r;
    model.addListener(r.listener());
    model.set({50.2, 59.6, 199.9, 100.4}); // normalises to the current rectangle
    model.set({1, 2, 300, 300}, false);
    EXPECT_EQ(model.rect(), (Rect {1, 2, 300, 300}));
    model.set({1, 2, 300, 300}, true);
    EXPECT_EQ(r.seen.size(), 1u); // only the call of addListener
}

TEST(RegionModel, EdgeOperations_KeepTheEdgesTheyPromise)
{
    struct Case {
        const char *name;
        std::function<void(RegionModel &)> op;
        Rect expected;
    };
    const Rect start {50, 60, 200, 100}; // top edge at 160
    const Case cases[] = {
        {"setWidth below minimum", [](RegionModel &m) { m.setWidth(10); }, {50, 60, 24, 100}},
        {"setWidth rounds", [](RegionModel &m) { m.setWidth(120.5); }, {50, 60, 121, 100}},
        {"setHeight keeps top", [](RegionModel &m) { m.setHeight(50); }, {50, 110, 200, 50}},
        {"setHeight below minimum keeps top", [](RegionModel &m) { m.setHeight(10); }, {50, 136, 200, 24}},
        {"setHeight NaN keeps top", [](RegionModel &m) { m.setHeight(std::nan("")); }, {50, 136, 200, 24}},
        {"setLeft", [](RegionModel &m) { m.setLeft(-7.5); }, {-8, 60, 200, 100}},
        {"setTopFromScreenTop", [](RegionModel &m) { m.setTopFromScreenTop(40, 900); }, {50, 760, 200, 100}},
        {"translate", [](RegionModel &m) { m.translate(10.5, -20.4); }, {61, 40, 200, 100}},
        {"set NaN width",
            [](RegionModel &m) {
                m.set({50, 60, std::nan(""), 100});
            },
            {50, 60, 24, 100}},
        {"set infinite origin keeps origin",
            [](RegionModel &m) {
                m.set({std::numeric_limits<double>::infinity(), std::nan(""), 300, 100});
            },
            {50, 60, 300, 100}},
    };
    for (const Case &c : cases) {
        RegionModel model(start);
        Recorder r;
        model.addListener(r.listener());
        c.op(model);
        EXPECT_EQ(model.rect(), c.expected) << c.name;
        ASSERT_EQ(r.seen.size(), 2u) << c.name;
        EXPECT_EQ(r.seen.back(), c.expected) << c.name;
    }
}

TEST(RegionModel, ListenerThatChangesTheModel_Settles)
{
    RegionModel model({0, 0, 100, 100});
    int calls = 0;
    model.addListener([&](const Rect &r) {
        ++calls;
        if (r.width > 200)
            model.setWidth(200); // a clamp applied from inside the notification
    });
    model.set({0, 0, 500, 100});
    EXPECT_EQ(model.rect(), (Rect {0, 0, 200, 100}));
    EXPECT_EQ(calls, 3); // added, 500, 200
}

TEST(Anchor, Resize_MovesOnlyOwnedEdges_AndPushesBackTheDraggedEdgeBelowMinimum)
{
    struct Case {
        Anchor anchor;
        Rect rect;
        double dx, dy;
        Rect expected;
    };
    const Rect r {0, 0, 200, 100};
    const Case cases[] = {
        {Anchor::right, r, -190, 0, {0, 0, 24, 100}},
        {Anchor::left, r, 190, 0, {176, 0, 24, 100}},
        {Anchor::top, r, 0, 30, {0, 0, 200, 130}},
        {Anchor::bottom, r, 0, 30, {0, 30, 200, 70}},
        {Anchor::bottomLeft, r, 10, 10, {10, 10, 190, 90}},
        {Anchor::topLeft, r, -10, 5, {-10, 0, 210, 105}},
        {Anchor::topRight, r, 5, -90, {0, 0, 205, 24}},
        {Anchor::bottomRight, r, -300, 200, {0, 76, 24, 24}},
        {Anchor::top, r, 50, 0, r}, // an edge handle ignores the other axis
        {Anchor::left, r, 0, 50, r},
    };
    for (const Case &c : cases)
        EXPECT_EQ(resize(c.anchor, c.rect, c.dx, c.dy), c.expected) << int(c.anchor);
}

TEST(Anchor, IsCorner_TrueExactlyForTheFourCorners)
{
    int corners = 0;
    for (Anchor a : allAnchors) {
        const bool expected
            = a == Anchor::topLeft || a == Anchor::topRight || a == Anchor::bottomRight || a == Anchor::bottomLeft;
        EXPECT_EQ(isCorner(a), expected) << int(a);
        corners += isCorner(a);
    }
    EXPECT_EQ(corners, 4);
}

TEST(ScreenUtil, Screen_TwoScreensSideBySide)
{
    const ScreenInfo a {QStringLiteral("A"), {0, 0, 1000, 800}, 1.0};
    const ScreenInfo b {QStringLiteral("B"), {1000, 0, 1200, 900}, 2.0};
    const std::vector<ScreenInfo> both {a, b};
    struct Case {
        const char *name;
        Rect rect;
        QString expected;
    };
    const Case cases[] = {
        {"centre inside A", {100, 100, 200, 200}, QStringLiteral("A")},
        {"centre inside B", {1500, 100, 200, 200}, QStringLiteral("B")},
        {"centre on A's right edge = B's left edge", {900, 100, 200, 200}, QStringLiteral("B")},
        {"centre on A's bottom edge belongs to A", {100, -100, 200, 200}, QStringLiteral("A")},
        {"centre on A's top edge is off every screen", {100, 700, 200, 200}, QStringLiteral("B")},
        {"mostly on B but centre on A", {800, 100, 300, 200}, QStringLiteral("A")},
        {"centre off every screen", {5000, 5000, 100, 100}, QStringLiteral("B")},
    };
    // B is the main screen here, so an off-screen rectangle goes there.
    for (const Case &c : cases)
        EXPECT_EQ(ScreenUtil::screen(c.rect, both, b).name, c.expected) << c.name;

    EXPECT_EQ(ScreenUtil::screen({5000, 5000, 10, 10}, both, std::nullopt).name, QStringLiteral("A"));
    EXPECT_EQ(ScreenUtil::screen({0, 0, 10, 10}, {}, std::nullopt), ScreenInfo {});
    EXPECT_EQ(ScreenUtil::primaryHeight(both), 800);
    EXPECT_EQ(ScreenUtil::primaryHeight({}), 0);
}
