#include "capture/CaptureGeometry.h"

#include "base/Rounding.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace CaptureGeometry {

namespace {

double clampOrigin(double v, double limit)
{
    if (std::isnan(v))
        return 0;
    return std::max(std::min(v, limit), 0.0);
}

int outputExtent(double points, double scale)
{
    const double px = roundHalfAway(scale * points);
    if (!(px >= 2))
        return 2;
    return px > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(px);
}

} // namespace

DisplayCrop cropToDisplay(const Rect &region, double primaryHeight, const Rect &display)
{
    DisplayCrop out;
    out.local = QRectF(
        region.minX() - display.minX(), (primaryHeight - region.maxY()) - display.minY(), region.width, region.height);
    const double x = clampOrigin(out.local.x(), display.width - 2);
    const double y = clampOrigin(out.local.y(), display.height - 2);
    const double w = std::min(display.width - x, region.width);
    const double h = std::min(display.height - y, region.height);
    out.cropped = QRectF(x, y, w, h);
    auto moved = [](double a, double b) { return !(std::abs(a - b) <= 1.0); };
    out.straddles = moved(x, out.local.x()) || moved(y, out.local.y()) || moved(w, out.local.width())
        || moved(h, out.local.height());
    return out;
}

QSize outputPixels(const QSizeF &points, double scale)
{
    const double s = (scale > 0 && std::isfinite(scale)) ? scale : 1.0;
    return {outputExtent(points.width(), s), outputExtent(points.height(), s)};
}

QRect devicePixels(const QRectF &points, double scale)
{
    const double s = (scale > 0 && std::isfinite(scale)) ? scale : 1.0;
    auto origin = [s](double v) {
        const double px = roundHalfAway(v * s);
        return std::isfinite(px) ? int(std::clamp(px, -1.0e9, 1.0e9)) : 0;
    };
    return {QPoint(origin(points.x()), origin(points.y())), outputPixels(points.size(), s)};
}

QString formatDouble(double value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QStringLiteral(".0");
    return text;
}

QString formatRect(double x, double y, double width, double height)
{
    return QStringLiteral("(%1, %2, %3, %4)")
        .arg(formatDouble(x), formatDouble(y), formatDouble(width), formatDouble(height));
}

QString formatRect(const Rect &rect)
{
    return formatRect(rect.x, rect.y, rect.width, rect.height);
}

QString formatRect(const QRectF &rect)
{
    return formatRect(rect.x(), rect.y(), rect.width(), rect.height());
}

} // namespace CaptureGeometry
