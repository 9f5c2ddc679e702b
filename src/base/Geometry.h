#pragma once

#include <QRect>
#include <QRectF>

// Quillo's global coordinates: points, origin at the bottom-left corner of the
// primary screen, y growing upward. Every region, anchor and control-bar
// calculation works in these; only toQt()/fromQt() cross over to Qt's
// top-left, y-down logical pixels, and nothing else converts.

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point &, const Point &) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size &, const Size &) = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    Point origin() const { return {x, y}; }
    Size size() const { return {width, height}; }
    double minX() const { return x; }
    double maxX() const { return x + width; }
    double minY() const { return y; }
    double maxY() const { return y + height; }
    double midX() const { return x + width * 0.5; }
    double midY() const { return y + height * 0.5; }
    bool isEmpty() const { return width <= 0 || height <= 0; }

    bool contains(Point p) const { return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY(); }
    bool intersects(const Rect &o) const;
    // The overlap of two rectangles; an empty Rect when they do not overlap.
    Rect intersected(const Rect &o) const;

    friend bool operator==(const Rect &, const Rect &) = default;
};

namespace Geometry {

// The primary screen's geometry in Qt coordinates, or nullopt-like empty QRect
// when there is no screen (no QGuiApplication, or a server without outputs).
QRect primaryScreenGeometry();

// The one conversion pair. `primary` is the primary screen in Qt coordinates.
Rect fromQt(const QRectF &r, const QRect &primary);
QRectF toQt(const Rect &r, const QRect &primary);
Point fromQt(const QPointF &p, const QRect &primary);
QPointF toQt(const Point &p, const QRect &primary);

// The same against the current primary screen.
Rect fromQt(const QRectF &r);
QRectF toQt(const Rect &r);
Point fromQt(const QPointF &p);
QPointF toQt(const Point &p);

} // namespace Geometry
