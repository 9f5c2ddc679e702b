#include "base/Geometry.h"
#include "base/Rounding.h"

#include <gtest/gtest.h>

TEST(Geometry, ConvertsBetweenYUpPointsAndQtPixels)
{
    // A 1440 x 900 primary screen at Qt's origin, and one placed at (100, 50).
    struct Row {
        QRect primary;
        QRectF qt;
        Rect yUp;
    };
    const Row rows[] = {
        {{0, 0, 1440, 900}, {400, 240, 640, 420}, {400, 240, 640, 420}},
        {{0, 0, 1440, 900}, {0, 0, 100, 100}, {0, 800, 100, 100}},
        {{0, 0, 1440, 900}, {0, 800, 100, 100}, {0, 0, 100, 100}},
        {{100, 50, 1000, 800}, {100, 50, 1000, 800}, {0, 0, 1000, 800}},
        // A second screen to the right of and above the primary one.
        {{0, 0, 1440, 900}, {1440, -200, 800, 600}, {1440, 500, 800, 600}},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(Geometry::fromQt(row.qt, row.primary), row.yUp);
        EXPECT_EQ(Geometry::toQt(row.yUp, row.primary), row.qt);
    }
    const QRect primary(0, 0, 1440, 900);
    EXPECT_EQ(Geometry::fromQt(QPointF(10, 0), primary), (Point {10, 900}));
    EXPECT_EQ(Geometry::toQt(Point {10, 900}, primary), QPointF(10, 0));
}

TEST(Geometry, IntersectsOnlyOverlappingRectangles)
{
    const Rect a {0, 0, 100, 100};
    EXPECT_EQ(a.intersected({50, 50, 100, 100}), (Rect {50, 50, 50, 50}));
    EXPECT_TRUE(a.intersected({100, 0, 10, 10}).isEmpty()); // touching edges only
    EXPECT_FALSE(a.intersects({-20, 0, 10, 10}));
    EXPECT_EQ(a.midX(), 50);
    EXPECT_EQ(a.maxY(), 100);
}

TEST(Rounding, RoundsHalvesAwayFromZero)
{
    const std::pair<double, double> rows[] = {
        {2.5, 3},
        {-2.5, -3},
        {2.4999, 2},
        {0.5, 1},
        {-0.5, -1},
        {1.5, 2},
        {-1.4, -1},
        {0.0, 0},
    };
    for (const auto &[in, out] : rows)
        EXPECT_EQ(roundHalfAway(in), out) << in;
    EXPECT_EQ(roundHalfAwayToInt(217.5), 218);
}
