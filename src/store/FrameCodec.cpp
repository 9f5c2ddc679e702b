#include "store/FrameCodec.h"

#include "base/ParallelFor.h"

#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>

namespace FrameCodec {

namespace {

enum Mode : uint8_t {
    SAME = 0, // the previous frame at the same place
    SHIFT = 1, // the previous frame at the moved place
    LIT_UP = 2, // residual against the row above in this frame
    SUB_PREV = 3, // residual against the previous frame at the same place
    SUB_SHIFT = 4, // residual against the previous frame at the moved place
};

constexpr char KIND_KEY = 'K';
constexpr char KIND_DELTA = 'D';

// Relative decode costs per pixel, as measured on the benchmark clips: a moved tile is a row
// copy, a residual tile an entropy decode plus a byte-wise add.
constexpr double COST_MOVE = 0.3;
constexpr double COST_RESIDUAL = 1.0;

constexpr uint32_t HIGH = 0x80808080u;

// Byte-wise subtraction and addition modulo 256 within a word: four
// independent bytes, no carries between them. Written on words so that the
// compiler vectorises the loops and the alpha mask costs nothing extra.
inline uint32_t subBytes(uint32_t a, uint32_t b)
{
    return ((a | HIGH) - (b & ~HIGH)) ^ ((a ^ ~b) & HIGH);
}

inline uint32_t addBytes(uint32_t a, uint32_t b)
{
    return ((a & ~HIGH) + (b & ~HIGH)) ^ ((a ^ b) & HIGH);
}

struct Grid {
    int width = 0, height = 0, cols = 0, rows = 0;
    Grid(int w, int h)
        : width(w)
        , height(h)
        , cols((w + TILE_W - 1) / TILE_W)
        , rows((h + TILE_H - 1) / TILE_H)
    {
    }
    int tileW(int tx) const { return std::min(TILE_W, width - tx * TILE_W); }
    int tileH(int ty) const { return std::min(TILE_H, height - ty * TILE_H); }
    std::size_t tileBytes(int tx, int ty) const { return std::size_t(tileW(tx)) * std::size_t(tileH(ty)) * 4; }
};

inline uint32_t alphaMask(const View &v)
{
    return v.opaque ? 0xff000000u : 0u;
}

bool rowsEqual(const uint32_t *a, uint32_t ma, const uint32_t *b, uint32_t mb, int n)
{
    uint32_t diff = 0;
    for (int i = 0; i < n; ++i)
        diff |= (a[i] | ma) ^ (b[i] | mb);
    return diff == 0;
}

bool tileEqual(const View &a, int ax, int ay, const View &b, int bx, int by, int w, int h)
{
    const uint32_t ma = alphaMask(a), mb = alphaMask(b);
    for (int r = 0; r < h; ++r) {
        if (!rowsEqual(a.pixels + (ay + r) * a.stride + ax, ma, b.pixels + (by + r) * b.stride + bx, mb, w))
            return false;
    }
    return true;
}

inline uint32_t zeroBytes(uint32_t v)
{
    // High bit of each byte set where that byte is zero.
    return uint32_t(__builtin_popcount(~(((v & 0x7f7f7f7fu) + 0x7f7f7f7fu) | v | 0x7f7f7f7fu)));
}

// Residual of a tile of `cur` against reference rows (`refRow(r)` for tile
// row r, null for none), written to `out`. Returns the number of zero bytes
// when `count` is set.
template <typename RefRow>
std::size_t residual(
    const View &cur, int x, int y, int w, int h, uint32_t refMask, RefRow refRow, uint8_t *out, bool count)
{
    const uint32_t m = alphaMask(cur);
    std::size_t zeros = 0;
    for (int r = 0; r < h; ++r) {
        const uint32_t *c = cur.pixels + (y + r) * cur.stride + x;
        const uint32_t *p = refRow(r);
        uint32_t o[TILE_W];
        if (p) {
            for (int i = 0; i < w; ++i)
                o[i] = subBytes(c[i] | m, p[i] | refMask);
        } else {
            for (int i = 0; i < w; ++i)
                o[i] = c[i] | m;
        }
        if (count) {
            uint32_t z = 0;
            for (int i = 0; i < w; ++i)
                z += zeroBytes(o[i]);
            zeros += z;
        }
        std::memcpy(out + std::size_t(r) * std::size_t(w) * 4, o, std::size_t(w) * 4);
    }
    return zeros;
}

// Against the row above, down to row `top`, which has none.
std::size_t residualUp(const View &cur, int x, int y, int w, int h, uint8_t *out, bool count = true, int top = 0)
{
    const uint32_t m = alphaMask(cur);
    return residual(
        cur, x, y, w, h, m,
        [&](int r) -> const uint32_t * { return y + r > top ? cur.pixels + (y + r - 1) * cur.stride + x : nullptr; },
        out, count);
}

std::size_t residualAgainst(const View &cur, int x, int y, int w, int h, const View &ref, int refY, uint8_t *out)
{
    return residual(
        cur, x, y, w, h, alphaMask(ref),
        [&](int r) -> const uint32_t * { return ref.pixels + (refY + r) * ref.stride + x; }, out, true);
}

// A context per thread, freed with the thread: making one per frame costs
// more than compressing a small frame.
struct ContextFree {
    void operator()(ZSTD_CCtx *c) const { ZSTD_freeCCtx(c); }
    void operator()(ZSTD_DCtx *c) const { ZSTD_freeDCtx(c); }
};

ZSTD_CCtx *compressionContext()
{
    thread_local std::unique_ptr<ZSTD_CCtx, ContextFree> context(ZSTD_createCCtx());
    return context.get();
}

ZSTD_DCtx *decompressionContext()
{
    thread_local std::unique_ptr<ZSTD_DCtx, ContextFree> context(ZSTD_createDCtx());
    return context.get();
}

// Appends one zstd frame of `raw` to `out`; false on failure.
bool compressInto(QByteArray &out, const uint8_t *raw, std::size_t size, int level)
{
    const qsizetype at = out.size();
    out.resize(at + qsizetype(ZSTD_compressBound(size)));
    const std::size_t n
        = ZSTD_compressCCtx(compressionContext(), out.data() + at, std::size_t(out.size() - at), raw, size, level);
    if (ZSTD_isError(n))
        return false;
    out.resize(at + qsizetype(n));
    return true;
}

QByteArray compress(const std::vector<uint8_t> &raw, std::size_t size, char kind, int level)
{
    QByteArray out(1, kind);
    if (!compressInto(out, raw.data(), size, level))
        return {};
    return out;
}

// A key is coded in up to KEY_BANDS bands of whole tile rows, each its own
// zstd frame whose first row has no row above, so that the bands decode on
// several cores at once.
constexpr int KEY_BANDS = 4;

int bandCount(const Grid &g)
{
    return std::min(KEY_BANDS, g.rows);
}

int bandStart(const Grid &g, int band)
{
    return band * g.rows / bandCount(g);
}

inline uint64_t mixRow(const uint32_t *p, int n, uint32_t m, bool &uniform)
{
    uint64_t h = 0x9e3779b97f4a7c15ull;
    const uint32_t first = p[0] | m;
    uint32_t differs = 0;
    for (int i = 0; i < n; ++i) {
        const uint32_t v = p[i] | m;
        differs |= v ^ first;
        h = (h ^ v) * 0x100000001b3ull;
    }
    uniform = differs == 0;
    return h;
}

// Hash of every row segment of every tile column; uniform segments get 0 so
// that blank areas do not vote for a movement.
void rowHashes(const View &v, const Grid &g, std::vector<uint64_t> &out)
{
    out.resize(std::size_t(g.cols) * std::size_t(g.height));
    const uint32_t m = alphaMask(v);
    for (int y = 0; y < g.height; ++y) {
        const uint32_t *row = v.pixels + y * v.stride;
        for (int tx = 0; tx < g.cols; ++tx) {
            bool uniform = false;
            const uint64_t h = mixRow(row + tx * TILE_W, g.tileW(tx), m, uniform);
            out[std::size_t(tx) * std::size_t(g.height) + std::size_t(y)] = uniform ? 0 : (h | 1);
        }
    }
}

// The vertical movement of most changed rows: content at row y of `cur` came
// from row y + dy of `prev`. 0 when nothing moved clearly.
int findShift(const View &cur, const View &prev, const Grid &g, Scratch &scratch)
{
    rowHashes(prev, g, scratch.prevHashes);
    rowHashes(cur, g, scratch.curHashes);
    std::unordered_map<int, int> votes;
    std::unordered_map<uint64_t, int> where;
    const std::size_t h = std::size_t(g.height);
    for (int tx = 0; tx < g.cols; ++tx) {
        const uint64_t *ph = scratch.prevHashes.data() + std::size_t(tx) * h;
        const uint64_t *ch = scratch.curHashes.data() + std::size_t(tx) * h;
        where.clear();
        for (std::size_t y = 0; y < h; ++y) {
            if (ph[y] == 0)
                continue;
            auto [it, inserted] = where.try_emplace(ph[y], int(y));
            if (!inserted)
                it->second = -1; // repeated rows say nothing about where content went
        }
        for (std::size_t y = 0; y < h; ++y) {
            if (ch[y] == 0 || ch[y] == ph[y])
                continue;
            const auto it = where.find(ch[y]);
            if (it == where.end() || it->second < 0)
                continue;
            const int dy = it->second - int(y);
            if (dy != 0 && std::abs(dy) <= g.height / 2)
                ++votes[dy];
        }
    }
    int best = 0, bestVotes = 0;
    for (const auto &[dy, n] : votes) {
        if (n > bestVotes || (n == bestVotes && std::abs(dy) < std::abs(best))) {
            best = dy;
            bestVotes = n;
        }
    }
    // A handful of matching rows is chance (repeated glyphs); a scroll moves
    // whole screens of rows.
    return bestVotes >= std::max(8, g.height / 32) ? best : 0;
}

} // namespace

Encoded encodeKey(const View &picture, int zstdLevel, Scratch &scratch)
{
    const Grid g(picture.width, picture.height);
    const int bands = bandCount(g);
    Encoded e;
    e.key = true;
    e.payload = QByteArray(1, KIND_KEY);
    e.payload.append(char(bands));
    const qsizetype sizesAt = e.payload.size();
    e.payload.append(QByteArray(bands * 4, '\0'));
    for (int b = 0; b < bands; ++b) {
        const int top = bandStart(g, b) * TILE_H;
        std::size_t at = 0;
        scratch.raw.resize(
            std::size_t(picture.width) * std::size_t(TILE_H) * 4 * std::size_t(bandStart(g, b + 1) - bandStart(g, b)));
        for (int ty = bandStart(g, b); ty < bandStart(g, b + 1); ++ty) {
            for (int tx = 0; tx < g.cols; ++tx) {
                residualUp(
                    picture, tx * TILE_W, ty * TILE_H, g.tileW(tx), g.tileH(ty), scratch.raw.data() + at, false, top);
                at += g.tileBytes(tx, ty);
            }
        }
        const qsizetype before = e.payload.size();
        if (!compressInto(e.payload, scratch.raw.data(), at, zstdLevel))
            return {};
        const auto size = uint32_t(e.payload.size() - before);
        std::memcpy(e.payload.data() + sizesAt + b * 4, &size, 4);
    }
    e.decodeCost = double(picture.width) * double(picture.height);
    return e;
}

Encoded encodeDelta(const View &picture, const View &previous, int zstdLevel, Scratch &scratch)
{
    const Grid g(picture.width, picture.height);
    const std::size_t tiles = std::size_t(g.cols) * std::size_t(g.rows);
    std::vector<uint8_t> modes(tiles, SAME);
    std::size_t changed = 0;
    for (int ty = 0; ty < g.rows; ++ty) {
        for (int tx = 0; tx < g.cols; ++tx) {
            if (!tileEqual(
                    picture, tx * TILE_W, ty * TILE_H, previous, tx * TILE_W, ty * TILE_H, g.tileW(tx), g.tileH(ty))) {
                modes[std::size_t(ty) * std::size_t(g.cols) + std::size_t(tx)] = LIT_UP;
                ++changed;
            }
        }
    }
    // Looking for a scroll costs two passes over both pictures: worth it only
    // when a good part of the frame changed.
    const int dy = changed * 16 >= tiles ? findShift(picture, previous, g, scratch) : 0;

    const std::size_t headerSize = 1 + 4 + tiles;
    scratch.raw.resize(headerSize + std::size_t(picture.width) * std::size_t(picture.height) * 4);
    scratch.tile.resize(std::size_t(TILE_W) * TILE_H * 4 * 2);
    uint8_t *best = scratch.tile.data();
    uint8_t *trial = best + std::size_t(TILE_W) * TILE_H * 4;
    std::size_t at = headerSize;
    double cost = 0;
    for (int ty = 0; ty < g.rows; ++ty) {
        for (int tx = 0; tx < g.cols; ++tx) {
            uint8_t &mode = modes[std::size_t(ty) * std::size_t(g.cols) + std::size_t(tx)];
            if (mode == SAME)
                continue;
            const int x = tx * TILE_W, y = ty * TILE_H, w = g.tileW(tx), h = g.tileH(ty);
            const bool movable = dy != 0 && y + dy >= 0 && y + dy + h <= g.height;
            if (movable && tileEqual(picture, x, y, previous, x, y + dy, w, h)) {
                mode = SHIFT;
                cost += COST_MOVE * w * h;
                continue;
            }
            // The residual with the most zero bytes is nearly always the one
            // that compresses best, and counting is far cheaper than trying.
            const std::size_t bytes = std::size_t(w) * std::size_t(h) * 4;
            std::size_t bestZeros = residualUp(picture, x, y, w, h, best);
            mode = LIT_UP;
            std::size_t zeros = residualAgainst(picture, x, y, w, h, previous, y, trial);
            if (zeros > bestZeros) {
                std::swap(best, trial);
                bestZeros = zeros;
                mode = SUB_PREV;
            }
            if (movable) {
                zeros = residualAgainst(picture, x, y, w, h, previous, y + dy, trial);
                if (zeros > bestZeros) {
                    std::swap(best, trial);
                    mode = SUB_SHIFT;
                }
            }
            std::memcpy(scratch.raw.data() + at, best, bytes);
            at += bytes;
            cost += COST_RESIDUAL * w * h;
        }
    }
    scratch.raw[0] = 1;
    const int32_t shift = dy;
    std::memcpy(scratch.raw.data() + 1, &shift, 4);
    std::memcpy(scratch.raw.data() + 5, modes.data(), tiles);
    Encoded e;
    e.payload = compress(scratch.raw, at, KIND_DELTA, zstdLevel);
    e.decodeCost = cost;
    return e;
}

bool isKey(const char *payload, std::size_t size)
{
    return size > 0 && payload[0] == KIND_KEY;
}

namespace {

// dst = ref + residual byte-wise, or the residual itself without a reference
// row. dst may be ref.
inline void addRow(uint32_t *dst, const uint32_t *ref, const uint8_t *res, int w)
{
    if (!ref) {
        std::memcpy(dst, res, std::size_t(w) * 4);
        return;
    }
    for (int i = 0; i < w; ++i) {
        uint32_t r;
        std::memcpy(&r, res + std::size_t(i) * 4, 4);
        dst[i] = addBytes(ref[i], r);
    }
}

} // namespace

namespace {

// One band of a key, streamed a tile row at a time through a buffer that
// stays in the cache, into its rows of `pixels`.
bool decodeKeyBand(const char *data, std::size_t size, const Grid &g, int band, uint32_t *pixels, std::ptrdiff_t stride)
{
    ZSTD_DCtx *context = decompressionContext();
    ZSTD_DCtx_reset(context, ZSTD_reset_session_only);
    std::vector<uint8_t> rowBuffer(std::size_t(g.width) * TILE_H * 4);
    ZSTD_inBuffer in {data, size, 0};
    std::size_t hint = 1; // 0 once the frame has ended
    const int top = bandStart(g, band) * TILE_H;
    for (int ty = bandStart(g, band); ty < bandStart(g, band + 1); ++ty) {
        const std::size_t want = std::size_t(g.width) * std::size_t(g.tileH(ty)) * 4;
        ZSTD_outBuffer out {rowBuffer.data(), want, 0};
        while (out.pos < want) {
            const std::size_t before = out.pos + in.pos;
            hint = ZSTD_decompressStream(context, &out, &in);
            if (ZSTD_isError(hint) || (hint == 0 && out.pos < want) || out.pos + in.pos == before)
                return false; // damaged, ended early, or cut short
        }
        const uint8_t *res = rowBuffer.data();
        for (int tx = 0; tx < g.cols; ++tx) {
            const int x = tx * TILE_W, y = ty * TILE_H, w = g.tileW(tx), h = g.tileH(ty);
            for (int r = 0; r < h; ++r, res += std::size_t(w) * 4) {
                uint32_t *dst = pixels + (y + r) * stride + x;
                addRow(dst, y + r > top ? dst - stride : nullptr, res, w);
            }
        }
    }
    // The frame must end exactly here.
    if (hint != 0) {
        ZSTD_outBuffer rest {rowBuffer.data(), rowBuffer.size(), 0};
        hint = ZSTD_decompressStream(context, &rest, &in);
        if (ZSTD_isError(hint) || rest.pos != 0)
            return false;
    }
    return hint == 0 && in.pos == in.size;
}

bool decodeKey(const char *payload, std::size_t size, uint32_t *pixels, const Grid &g, std::ptrdiff_t stride)
{
    const int bands = bandCount(g);
    if (size < 2 + std::size_t(bands) * 4 || payload[1] != char(bands))
        return false;
    std::vector<std::pair<std::size_t, std::size_t>> spans; // offset, size
    std::size_t at = 2 + std::size_t(bands) * 4;
    for (int b = 0; b < bands; ++b) {
        uint32_t n = 0;
        std::memcpy(&n, payload + 2 + b * 4, 4);
        if (n > size - at)
            return false;
        spans.emplace_back(at, n);
        at += n;
    }
    if (at != size)
        return false;
    auto task = [&](std::size_t b) {
        return decodeKeyBand(payload + spans[b].first, spans[b].second, g, int(b), pixels, stride);
    };
    // Threads cost more than they save on small pictures.
    if (std::size_t(g.width) * std::size_t(g.height) >= 512 * 512)
        return parallelFor(std::size_t(bands), task);
    for (int b = 0; b < bands; ++b) {
        if (!task(std::size_t(b)))
            return false;
    }
    return true;
}

} // namespace

bool decode(const char *payload, std::size_t size, uint32_t *pixels, int width, int height, std::ptrdiff_t stride,
    std::vector<uint8_t> &scratch)
{
    if (size < 2 || width <= 0 || height <= 0 || (payload[0] != KIND_KEY && payload[0] != KIND_DELTA))
        return false;
    const Grid g(width, height);
    if (payload[0] == KIND_KEY)
        return decodeKey(payload, size, pixels, g, stride);
    const std::size_t tiles = std::size_t(g.cols) * std::size_t(g.rows);
    const unsigned long long content = ZSTD_getFrameContentSize(payload + 1, size - 1);
    const std::size_t pixelBytes = std::size_t(width) * std::size_t(height) * 4;
    const std::size_t limit = 1 + 4 + tiles + pixelBytes;
    if (content == ZSTD_CONTENTSIZE_ERROR || content == ZSTD_CONTENTSIZE_UNKNOWN || content > limit)
        return false;
    scratch.resize(std::size_t(content));
    const std::size_t n
        = ZSTD_decompressDCtx(decompressionContext(), scratch.data(), scratch.size(), payload + 1, size - 1);
    if (ZSTD_isError(n) || n != content || n < 1)
        return false;
    const uint8_t *raw = scratch.data();
    auto row = [&](int y) { return pixels + y * stride; };

    if (n < 1 + 4 + tiles)
        return false;
    int32_t dy = 0;
    std::memcpy(&dy, raw + 1, 4);
    const uint8_t *modes = raw + 5;
    // Where each tile's residual starts; also checks the modes and the size.
    std::vector<std::size_t> offsets(tiles, 0);
    std::size_t at = 1 + 4 + tiles;
    for (int ty = 0; ty < g.rows; ++ty) {
        for (int tx = 0; tx < g.cols; ++tx) {
            const std::size_t i = std::size_t(ty) * std::size_t(g.cols) + std::size_t(tx);
            const uint8_t mode = modes[i];
            if (mode > SUB_SHIFT)
                return false;
            if (mode == SHIFT || mode == SUB_SHIFT) {
                const int y = ty * TILE_H;
                if (dy == 0 || y + dy < 0 || y + dy + g.tileH(ty) > height)
                    return false;
            }
            if (mode >= LIT_UP) {
                offsets[i] = at;
                at += g.tileBytes(tx, ty);
            }
        }
    }
    if (at != n)
        return false;

    // Moved tiles first, in the order that reads every source row before it
    // is overwritten: downwards when content came from below (dy > 0).
    const bool down = dy > 0;
    for (int k = 0; k < g.rows; ++k) {
        const int ty = down ? k : g.rows - 1 - k;
        for (int tx = 0; tx < g.cols;) {
            const std::size_t i = std::size_t(ty) * std::size_t(g.cols) + std::size_t(tx);
            if (modes[i] != SHIFT && modes[i] != SUB_SHIFT) {
                ++tx;
                continue;
            }
            // A run of moved tiles is one copy per row: a scroll moves most
            // of the frame.
            int end = tx + 1;
            if (modes[i] == SHIFT) {
                while (end < g.cols && modes[i + std::size_t(end - tx)] == SHIFT)
                    ++end;
            }
            const int x = tx * TILE_W, y = ty * TILE_H, h = g.tileH(ty);
            const int w = end == g.cols ? g.width - x : (end - tx) * TILE_W;
            for (int j = 0; j < h; ++j) {
                const int r = down ? j : h - 1 - j;
                uint32_t *dst = row(y + r) + x;
                const uint32_t *src = row(y + r + dy) + x;
                if (modes[i] == SHIFT)
                    std::memcpy(dst, src, std::size_t(w) * 4);
                else
                    addRow(dst, src, raw + offsets[i] + std::size_t(r) * std::size_t(w) * 4, w);
            }
            tx = end;
        }
    }
    // Then the rest in raster order, so the row above a tile is final.
    for (int ty = 0; ty < g.rows; ++ty) {
        for (int tx = 0; tx < g.cols; ++tx) {
            const std::size_t i = std::size_t(ty) * std::size_t(g.cols) + std::size_t(tx);
            if (modes[i] != LIT_UP && modes[i] != SUB_PREV)
                continue;
            const int x = tx * TILE_W, y = ty * TILE_H, w = g.tileW(tx), h = g.tileH(ty);
            const uint8_t *res = raw + offsets[i];
            for (int r = 0; r < h; ++r, res += std::size_t(w) * 4) {
                uint32_t *dst = row(y + r) + x;
                if (modes[i] == SUB_PREV)
                    addRow(dst, dst, res, w);
                else
                    addRow(dst, y + r > 0 ? row(y + r - 1) + x : nullptr, res, w);
            }
        }
    }
    return true;
}

} // namespace FrameCodec
