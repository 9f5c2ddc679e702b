#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// Reading and amending the block structure of a GIF file written by any
// encoder: how many images it holds, and each image's delay.
namespace GifFile {

struct Structure {
    // Each image's delay in hundredths, in order; absent for an image with
    // no graphic control extension before it.
    std::vector<std::optional<int>> delays;
    // Where each image's delay field sits in the file (-1: none).
    std::vector<qint64> delayOffsets;
};

// The structure of a complete GIF (header, every block and the trailer);
// absent when the file is not a GIF or is cut short.
std::optional<Structure> read(const QString &path);

// Writes `delaysCs` (one per image, clamped to the format's 0 to 65535) into
// the images' graphic control extensions. False when the file is not a
// complete GIF, the count differs, or an image has no extension to hold it.
bool setDelays(const QString &path, const std::vector<int> &delaysCs);

} // namespace GifFile
