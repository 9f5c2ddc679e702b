#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <vector>

// The lossless picture coding of the frame store. Pure functions over 32-bit
// pixels (QImage's ARGB32 family: B, G, R, A bytes in memory); thread-safe.
//
// A frame is cut into tiles of TILE_W x TILE_H pixels. A key frame codes every
// tile from the picture alone; a delta frame says per tile whether it equals
// the previous frame at the same place, equals the previous frame moved up or
// down by one vertical offset found for the whole frame (scrolling), or carries
// a residual: the bytes minus the row above (spatial), or minus the previous
// frame at the same or the moved place (temporal), whichever leaves more zero
// bytes. The mode bytes and residuals of a frame form one zstd frame.
//
// Why this coding (measured with store_tuning on the benchmark clips; ratios
// of the stored bytes to the raw pixel bytes at 1280 x 840):
// - zstd level 1 over residuals against the row above gives typing keys of
//   2.4 %, scrolling keys of 6.7 % and video keys of 32 %; the same bytes
//   without the row filter give 2.6 %, 9.4 % and 61 %: zstd's Huffman stage
//   turns the small residuals of photo-like pixels into about 4 bits a byte.
//   LZ4 has no entropy stage and stays near the unfiltered sizes (video 62 %),
//   so it cannot meet a 60 % ceiling on video. Higher zstd levels gain under
//   5 % and cost 2 to 4 times the time at capture.
// - Deltas make typing 0.1 % a frame and scrolling (with the vertical offset)
//   0.5 %, against 2.4 % and 6.7 % as keys.
// - Tiles of 64 x 16 keep a changed caret or glyph from dragging whole rows
//   into a delta, while the per-tile mode byte stays below 0.01 % of the
//   pixel bytes.
namespace FrameCodec {

inline constexpr int TILE_W = 64;
inline constexpr int TILE_H = 16;

// A picture to code: `stride` is in pixels. With `opaque` set the alpha bytes
// are taken as 0xff whatever they hold (Format_RGB32 from a screen grab leaves
// them undefined), so no separate pass has to set them.
struct View {
    const uint32_t *pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
    bool opaque = false;
};

struct Encoded {
    QByteArray payload;
    bool key = false;
    // What decoding this frame from its reference costs, in units of one
    // pixel of a key frame: the store starts a new key frame once the deltas
    // since the last one add up to about one key frame's cost.
    double decodeCost = 0;
};

// Reusable scratch memory of one encoding thread.
struct Scratch {
    std::vector<uint8_t> raw;
    std::vector<uint8_t> tile;
    std::vector<uint64_t> prevHashes;
    std::vector<uint64_t> curHashes;
};

Encoded encodeKey(const View &picture, int zstdLevel, Scratch &scratch);
// `previous` must have the same size as `picture`.
Encoded encodeDelta(const View &picture, const View &previous, int zstdLevel, Scratch &scratch);

// Decodes `payload` into `pixels` (width x height, `stride` pixels a row),
// which must hold the reference frame for a delta and may hold anything for a
// key. Decoded pixels of an opaque picture have alpha 0xff. False for a
// payload that does not decode to this size (the pixels are then undefined).
bool decode(const char *payload, std::size_t size, uint32_t *pixels, int width, int height, std::ptrdiff_t stride,
    std::vector<uint8_t> &scratch);

// Whether a payload codes a key frame; false for an empty or foreign payload.
bool isKey(const char *payload, std::size_t size);

} // namespace FrameCodec
