#pragma once

#include <QColor>

// The four colours of the recording frame and the editor's marks, all sRGB.
// Each is made once, on first use; safe to call from any thread.
namespace Palette {

const QColor &lime();
const QColor &ink();
const QColor &panel();
const QColor &recRed();

} // namespace Palette
