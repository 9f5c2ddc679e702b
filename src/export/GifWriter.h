#pragma once

#include <QImage>
#include <QString>

#include <vector>

// Writes an animated GIF89a: libimagequant builds the palette and dithers,
// giflib writes the file. Synchronous; one writer may be used from one thread
// at a time, separate writers on any threads.
//
// When every frame is opaque and of one size (every screen recording), one
// palette is built for the whole animation from the parts that change, and
// each frame after the first is stored as only the rectangle that changed,
// with every pixel that would look the same transparent, so static areas cost
// almost nothing. Otherwise (frames with transparent pixels, or of different
// sizes) each frame is stored whole and cleared before the next.
class GifWriter {
public:
    struct Tuning {
        // libimagequant speed, 1 (slowest, best) to 10.
        int speed = 4;
        // 0 (none) to 1 (full Floyd-Steinberg).
        float dithering = 1.0f;
    };

    enum class Status {
        written,
        // The file could not be created (missing folder, no permission) or the
        // frames cannot be a GIF (a side above 65535 pixels).
        cannotCreate,
        // Quantisation or writing failed after the file was created; whatever
        // was written stays.
        finalizeFailed,
    };

    GifWriter() = default;
    explicit GifWriter(Tuning tuning)
        : m_tuning(tuning)
    {
    }

    // `delaysCs` holds one delay per image in hundredths of a second. The
    // loop count goes into the NETSCAPE2.0 extension as it is (0 = forever),
    // clamped to the field's 0 to 65535. The file gets the user's normal
    // permissions.
    Status write(const QString &path, const std::vector<QImage> &images, const std::vector<int> &delaysCs,
        int64_t loopCount) const;

private:
    Tuning m_tuning;
};
