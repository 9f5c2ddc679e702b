#pragma once

#include "export/GifEncoder.h"
#include "export/GifQuality.h"

#include <cstdint>
#include <optional>

// What the user asked of a GIF export. Built as {encoder, quality, loopCount}
// with the override absent; the paths that cannot honour a field ignore it.
struct ExportOptions {
    GifEncoder encoder = GifEncoder::imageIO;
    GifQuality quality = GifQuality::high;
    // Number of plays, 0 = forever, as in the project.
    int64_t loopCount = 0;
    // A constant frame rate instead of the per-frame delays. No caller in the
    // program sets it; values below 1 are ignored by the delay-honouring paths.
    std::optional<int64_t> fpsOverride;
};
