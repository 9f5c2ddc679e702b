#pragma once

#include <QImage>
#include <QSize>

// Memory for the pictures a recording keeps. A kept frame is fresh memory,
// and on a virtual machine the first touch of each fresh 4 KiB page can cost
// many times the copy that fills it: on the grab thread, at 1280 x 840, more
// than the whole frame's budget on a busy machine. So a thread of its own
// keeps a few blocks of the size last asked for with their pages already in
// place, and pictures released (a grab that changed nothing) go back to it.
// The blocks are given back a few seconds after the last frame. Every
// function is thread-safe.
namespace FrameMemory {

// An ARGB32 premultiplied image of `size` whose pixels are undefined; null
// when there is no memory for it. Its memory goes back when the last copy of
// the image is gone.
QImage allocate(QSize size);

} // namespace FrameMemory
