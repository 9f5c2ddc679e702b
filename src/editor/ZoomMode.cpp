#include "editor/ZoomMode.h"

namespace ZoomModes {

const std::vector<ZoomMode> &allCases()
{
    static const std::vector<ZoomMode> cases {ZoomMode::fit, ZoomMode::p50, ZoomMode::p100, ZoomMode::p200};
    return cases;
}

QString label(ZoomMode mode)
{
    switch (mode) {
    case ZoomMode::fit:
        return QStringLiteral("Fit");
    case ZoomMode::p50:
        return QStringLiteral("50%");
    case ZoomMode::p100:
        return QStringLiteral("100%");
    case ZoomMode::p200:
        return QStringLiteral("200%");
    }
    return QStringLiteral("Fit");
}

std::optional<double> fixedScale(ZoomMode mode)
{
    switch (mode) {
    case ZoomMode::fit:
        return std::nullopt;
    case ZoomMode::p50:
        return 0.5;
    case ZoomMode::p100:
        return 1.0;
    case ZoomMode::p200:
        return 2.0;
    }
    return std::nullopt;
}

ZoomMode fromRaw(int raw)
{
    if (raw >= 0 && raw <= 3)
        return static_cast<ZoomMode>(raw);
    return ZoomMode::fit;
}

} // namespace ZoomModes
