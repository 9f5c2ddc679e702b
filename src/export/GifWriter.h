#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

// Writes an animated GIF89a: libimagequant builds the palette, giflib writes
// the file. Synchronous; the calling thread does all the work, and separate
// calls may run on separate threads at once.
//
// One palette serves the whole animation, built from the colours of what each
// frame draws; up to maxColors colours are kept exactly. Every colour maps to
// its nearest entry, the same in every frame, without dithering: on screen
// content dithering costs size and, measured by SSIM, quality too, and a
// stable mapping is what lets unchanged pixels stay transparent.
//
// When every frame is opaque and of one size (every screen recording), each
// frame after the first is stored as only the rectangle that changed, with
// every pixel that would look the same transparent, so static areas cost
// almost nothing. Otherwise (frames with transparent pixels, or of different
// sizes) each frame is stored whole and cleared before the next.
class GifWriter {
public:
    // The defaults were measured on scrolling text and on the self-test
    // animation against ffmpeg's quality "high": smaller files at a higher SSIM.
    struct Tuning {
        // libimagequant speed, 1 (slowest, best) to 10.
        int speed = 4;
        // Palette size, 2 to 255 (one more index is kept for transparency).
        int maxColors = 255;
        // libimagequant's quality target, 0 to 100: below 100 it may use fewer
        // colours than maxColors when they already reach it.
        int targetQuality = 90;
    };

    enum class Status {
        written,
        // The file could not be created (missing folder, no permission) or the
        // frames cannot be a GIF (a side above 65535 pixels).
        cannotCreate,
        // Quantisation or writing failed after the file was created; whatever
        // was written stays.
        finalizeFailed,
        // `progress` asked to stop; whatever was written stays.
        cancelled,
    };

    GifWriter() = default;
    explicit GifWriter(Tuning tuning)
        : m_tuning(tuning)
    {
    }

    // `delaysCs` holds one delay per image in hundredths of a second.
    // `loopValue` goes into the NETSCAPE2.0 extension as it is (0 = forever,
    // else the number of repetitions after the first play), clamped to the
    // field's 65535; a negative value leaves the extension out, and the
    // animation plays once. The file gets the user's normal permissions.
    // `progress`, when set, hears the share done (0 to 1) after each frame of
    // each pass, on the calling thread; returning false stops the writing.
    Status write(const QString &path, const std::vector<QImage> &images, const std::vector<int> &delaysCs,
        int64_t loopValue, const std::function<bool(double)> &progress = {}) const;

    // The frames read one at a time, for animations too long to hold decoded:
    // `size(i)` is asked first for every frame, and must not need the
    // picture; `image(i)` then about twice per frame, in order, on the calling
    // thread. A picture that is null or not of its size ends the writing with
    // finalizeFailed.
    struct Frames {
        size_t count = 0;
        std::function<QSize(size_t)> size;
        std::function<QImage(size_t)> image;
    };
    Status write(const QString &path, const Frames &frames, const std::vector<int> &delaysCs, int64_t loopValue,
        const std::function<bool(double)> &progress = {}) const;

private:
    Tuning m_tuning;
};
