#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// What an export wrote, checked before the user is told it worked: a tool
// that exits 0 may still have written nothing, a stub, or a cut-off file.
namespace OutputCheck {

// The number of images in a complete GIF file (header, blocks and trailer all
// there); absent when the file is not a GIF or is cut short.
std::optional<int64_t> gifImageCount(const QString &path);

// Why `path` is not a GIF of `expectedImages` images (or, with
// `atLeastOne`, of at least one image, for tools that merge identical
// frames): a sentence fragment such as "it wrote no file", or empty when the
// file is fine.
QString gifProblem(const QString &path, int64_t expectedImages, bool atLeastOne);

// Why `path` is not a complete MP4 file (an "ftyp" box first, a "moov" box,
// and boxes that add up to the file's size), or empty when it is.
QString mp4Problem(const QString &path);

} // namespace OutputCheck
