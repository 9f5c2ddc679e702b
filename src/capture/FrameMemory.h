#pragma once

#include <QImage>
#include <QSize>

// Memory for the pictures a recording keeps. A kept frame is fresh memory,
// and on a virtual machine the kernel's cost of handing it over page by page
// (a fault and a zeroed 4 KiB page each) can be many times that of filling it:
// pictures of 2 MiB and more are therefore laid out on 2 MiB boundaries and
// offered to transparent huge pages, so most of a frame comes in a few large
// pages. The last pictures released are kept for the next ones, so a grab
// whose picture is dropped (nothing changed) costs no fresh memory. Every
// function is thread-safe.
namespace FrameMemory {

// An ARGB32 premultiplied image of `size` whose pixels are undefined; null
// when there is no memory for it. Its memory goes back when the last copy of
// the image is gone.
QImage allocate(QSize size);

} // namespace FrameMemory
