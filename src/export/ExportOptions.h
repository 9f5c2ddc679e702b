#pragma once

#include "export/GifEncoder.h"
#include "export/GifQuality.h"

#include <cstdint>
#include <optional>

// What the user asked of a GIF export: {encoder, quality, loopCount}, with
// the override absent unless given. The paths that cannot honour a field
// ignore it.
struct ExportOptions {
    ExportOptions(
        GifEncoder encoder, GifQuality quality, int64_t loopCount, std::optional<int64_t> fpsOverride = std::nullopt)
        : encoder(encoder)
        , quality(quality)
        , loopCount(loopCount)
        , fpsOverride(fpsOverride)
    {
    }

    GifEncoder encoder;
    GifQuality quality;
    // Number of plays, 0 = forever, as in the project.
    int64_t loopCount;
    // A constant frame rate instead of the per-frame delays. No caller in the
    // program sets it; values below 1 are ignored by the delay-honouring paths.
    std::optional<int64_t> fpsOverride;
};
