#include "capture/x11/X11WindowStack.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr xcb_window_t root = 1;
constexpr xcb_window_t a = 10, b = 11, c = 12, frame = 20, elsewhere = 99;

X11TopLevel window(xcb_window_t id, QRect outer, bool viewable = true)
{
    X11TopLevel w;
    w.id = id;
    w.outer = outer;
    w.viewable = viewable;
    return w;
}

std::string order(const X11WindowStack &stack)
{
    std::string s;
    for (const X11TopLevel &w : stack.windows())
        s += std::to_string(w.id) + (w.viewable ? "" : "u") + " ";
    return s;
}

// Every structure event as the server sends it: a plain struct with the
// response type in front.
template <typename Event> const xcb_generic_event_t *generic(const Event &e)
{
    return reinterpret_cast<const xcb_generic_event_t *>(&e);
}

xcb_configure_notify_event_t configure(xcb_window_t id, xcb_window_t above, QRect r, xcb_window_t event = root)
{
    xcb_configure_notify_event_t e {};
    e.response_type = XCB_CONFIGURE_NOTIFY;
    e.event = event;
    e.window = id;
    e.above_sibling = above;
    e.x = int16_t(r.x());
    e.y = int16_t(r.y());
    e.width = uint16_t(r.width());
    e.height = uint16_t(r.height());
    return e;
}

X11WindowStack threeWindows()
{
    X11WindowStack stack;
    stack.reset({window(a, {0, 0, 100, 100}), window(b, {50, 50, 100, 100}), window(c, {300, 300, 10, 10}, false)});
    return stack;
}

} // namespace

TEST(X11WindowStack, ConfigureRestacksAndMoves_ReportingBothPlaces)
{
    struct Case {
        const char *what;
        xcb_window_t id, above;
        QRect to;
        std::string order;
        QRegion area;
    };
    const Case cases[] = {
        {"raised above b", a, b, {0, 0, 100, 100}, "11 10 12u ", QRegion(0, 0, 100, 100)},
        {"lowered to the bottom", b, XCB_WINDOW_NONE, {50, 50, 100, 100}, "11 10 12u ", QRegion(50, 50, 100, 100)},
        {"moved in place", a, XCB_WINDOW_NONE, {10, 0, 100, 100}, "10 11 12u ",
            QRegion(0, 0, 100, 100) + QRegion(10, 0, 100, 100)},
        {"above an unknown sibling goes on top", a, elsewhere, {0, 0, 100, 100}, "11 12u 10 ", QRegion(0, 0, 100, 100)},
        {"an unmapped window's move shows nothing", c, b, {0, 0, 10, 10}, "10 11 12u ", QRegion()},
    };
    for (const Case &k : cases) {
        X11WindowStack stack = threeWindows();
        const auto e = configure(k.id, k.above, k.to);
        const X11WindowStack::Change change = stack.apply(generic(e), root);
        EXPECT_EQ(order(stack), k.order) << k.what;
        EXPECT_EQ(change.area, k.area) << k.what;
        EXPECT_TRUE(change.restacked) << k.what;
        EXPECT_EQ(stack.find(k.id)->outer, k.to) << k.what;
    }
}

TEST(X11WindowStack, EventsNotAboutTheRootsChildren_ChangeNothing)
{
    X11WindowStack stack = threeWindows();
    auto synthetic = configure(a, b, {5, 5, 1, 1});
    synthetic.response_type |= 0x80; // sent by a client, not the server
    const auto inFrame = configure(a, b, {5, 5, 1, 1}, frame);
    const auto unknown = configure(elsewhere, a, {5, 5, 1, 1});
    for (const xcb_configure_notify_event_t &e : {synthetic, inFrame, unknown}) {
        const X11WindowStack::Change change = stack.apply(generic(e), root);
        EXPECT_FALSE(change.restacked);
        EXPECT_TRUE(change.area.isEmpty());
    }
    EXPECT_EQ(order(stack), "10 11 12u ");
    EXPECT_EQ(stack.find(a)->outer, QRect(0, 0, 100, 100));
}

TEST(X11WindowStack, MapUnmapCreateDestroy)
{
    X11WindowStack stack = threeWindows();

    xcb_map_notify_event_t map {};
    map.response_type = XCB_MAP_NOTIFY;
    map.event = root;
    map.window = c;
    EXPECT_EQ(stack.apply(generic(map), root).area, QRegion(300, 300, 10, 10));
    EXPECT_EQ(order(stack), "10 11 12 ");

    xcb_unmap_notify_event_t unmap {};
    unmap.response_type = XCB_UNMAP_NOTIFY;
    unmap.event = root;
    unmap.window = a;
    EXPECT_EQ(stack.apply(generic(unmap), root).area, QRegion(0, 0, 100, 100));
    EXPECT_EQ(order(stack), "10u 11 12 ");

    xcb_create_notify_event_t create {};
    create.response_type = XCB_CREATE_NOTIFY;
    create.parent = root;
    create.window = 13;
    create.x = 5;
    create.y = 6;
    create.width = 20;
    create.height = 30;
    create.border_width = 2;
    X11WindowStack::Change change = stack.apply(generic(create), root);
    ASSERT_TRUE(change.added);
    EXPECT_EQ(*change.added, 13u);
    EXPECT_EQ(order(stack), "10u 11 12 13u ");
    EXPECT_EQ(stack.find(13)->outer, QRect(5, 6, 24, 34)); // border on both sides
    EXPECT_FALSE(stack.find(13)->detailsKnown);
    stack.setDetails(13, 32, 77, true, QRect(0, 0, 1, 1), 0);
    EXPECT_TRUE(stack.find(13)->detailsKnown);
    EXPECT_EQ(stack.find(13)->depth, 32);
    EXPECT_EQ(stack.find(13)->outer, QRect(5, 6, 24, 34)); // the event's size stands

    xcb_destroy_notify_event_t destroy {};
    destroy.response_type = XCB_DESTROY_NOTIFY;
    destroy.event = root;
    destroy.window = b;
    change = stack.apply(generic(destroy), root);
    ASSERT_TRUE(change.removed);
    EXPECT_EQ(*change.removed, b);
    EXPECT_EQ(change.area, QRegion(50, 50, 100, 100));
    EXPECT_EQ(order(stack), "10u 12 13u ");
}

// A window manager takes a window into its frame, and later lets it go back
// onto the root: the window's place is known, its size only from the server.
TEST(X11WindowStack, Reparenting_IntoAFrameAndBack)
{
    X11WindowStack stack = threeWindows();
    xcb_reparent_notify_event_t away {};
    away.response_type = XCB_REPARENT_NOTIFY;
    away.event = root;
    away.window = b;
    away.parent = frame;
    X11WindowStack::Change change = stack.apply(generic(away), root);
    ASSERT_TRUE(change.removed && change.newParent);
    EXPECT_EQ(*change.removed, b);
    EXPECT_EQ(*change.newParent, frame);
    EXPECT_EQ(change.area, QRegion(50, 50, 100, 100));
    EXPECT_EQ(order(stack), "10 12u ");

    xcb_reparent_notify_event_t back = away;
    back.parent = root;
    back.x = 40;
    back.y = 45;
    change = stack.apply(generic(back), root);
    ASSERT_TRUE(change.added);
    EXPECT_EQ(order(stack), "10 12u 11u ");
    EXPECT_FALSE(stack.find(b)->sizeKnown);
    stack.setDetails(b, 24, 33, true, QRect(40, 45, 100, 100), 0);
    EXPECT_EQ(stack.find(b)->outer, QRect(40, 45, 100, 100));
    EXPECT_TRUE(stack.find(b)->sizeKnown);
}
