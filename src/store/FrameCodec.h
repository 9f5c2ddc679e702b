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
// Why this coding (measured on the benchmark clips at 1280 x 840; sizes as a
// share of the raw pixel bytes, times on this project's 2-core build machine):
// - Keys: zstd level 1 over residuals against the row above gives typing
//   1.6 %, scrolling 2.7 %, video 17 %. Without the row filter: 1.3 %, 2.1 %
//   and 36 % (the filter turns the photo-like half of a video frame into small
//   residuals that zstd's Huffman stage packs into about 4 bits a byte, and
//   costs text a little). LZ4 has no entropy stage: 2.1 %, 4.1 % and 46 %,
//   with faster decoding, but video would then cost nearly
//   half the raw bytes. zstd level 3 saves 7 to 15 % for 10 to 35 % more
//   time, which a 60 fps capture cannot spare.
// - Deltas: typing 0.04 % and scrolling 0.05 % a frame (the scroll found as
//   one vertical offset, tiles equal to the moved picture cost nothing), so
//   keys dominate what a recording of screen content keeps.
// - Tiles of 64 x 16 keep a blinking caret or a typed glyph from dragging
//   whole rows into a delta; the mode byte per tile is 0.02 % of the pixel
//   bytes before compression.
// The decoder works in place on the reference frame, so a delta costs only
// the tiles it changes.
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
