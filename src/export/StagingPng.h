#pragma once

#include <QImage>
#include <QString>

// Writes the PNG files the external encoders read. They are read once and
// removed seconds later, so speed matters more than size: opaque frames (every
// recorded frame) go straight from the frame's BGRX rows to an RGB PNG with no
// row filter and zlib level 1, a twentieth to a fiftieth of the raw size on
// screen content, with no conversion of the picture first; noise that does
// not compress is stored as it is. Frames with transparency take Qt's PNG
// writer, which keeps the alpha channel. Any thread; several at once.
namespace StagingPng {

// False when the file cannot be created or completely written.
bool write(const QImage &image, const QString &path);

} // namespace StagingPng
