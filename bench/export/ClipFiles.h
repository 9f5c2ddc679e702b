#pragma once

#include "model/GifProject.h"

#include <QString>

// Reads a clip as clip_generator wrote it (frame00000.png ..., delays.txt,
// fps.txt) into a project, with the frame images in the capture format
// (ARGB32 premultiplied). nullptr with `error` set when a file is missing or
// unreadable, or when the delays do not match the frames.
namespace ClipFiles {

GifProjectRef load(const QString &dir, QString *error);

} // namespace ClipFiles
