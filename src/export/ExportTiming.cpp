#include "export/ExportTiming.h"

#include "base/Rounding.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ExportTiming {

double frameSeconds(int64_t delayMs)
{
    return std::max(static_cast<double>(delayMs) / 1000.0, MIN_DELAY_SECONDS);
}

int64_t gifDelayMs(int64_t delayMs)
{
    return std::max<int64_t>(delayMs, 20);
}

QString secondsText(double seconds)
{
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed);
    if (error != std::errc())
        return QString::number(seconds, 'f', 3);
    QString text = QString::fromLatin1(buffer, end - buffer);
    if (!text.contains(QLatin1Char('.')))
        text += QLatin1String(".0");
    return text;
}

int delayCentiseconds(double seconds)
{
    if (!std::isfinite(seconds))
        return 65535;
    return static_cast<int>(std::clamp(roundHalfAway(seconds * 100.0), 0.0, 65535.0));
}

int64_t loopValue(int64_t loopCount)
{
    if (loopCount <= 0)
        return 0;
    if (loopCount == 1)
        return -1;
    return loopCount - 1;
}

} // namespace ExportTiming
