#include "frameui/Palette.h"

namespace Palette {

const QColor &lime()
{
    static const QColor colour = QColor::fromRgbF(0.78f, 1.0f, 0.0f, 1.0f);
    return colour;
}

const QColor &ink()
{
    static const QColor colour = QColor::fromRgbF(0.07f, 0.08f, 0.07f, 1.0f);
    return colour;
}

const QColor &panel()
{
    static const QColor colour = QColor::fromRgbF(0.11f, 0.12f, 0.11f, 0.96f);
    return colour;
}

const QColor &recRed()
{
    static const QColor colour = QColor::fromRgbF(1.0f, 0.27f, 0.23f, 1.0f);
    return colour;
}

} // namespace Palette
