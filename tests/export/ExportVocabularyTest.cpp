#include "ExportTestSupport.h"

#include "export/ExportOptions.h"
#include "export/GifExporter.h"

#include <gtest/gtest.h>

TEST(GifQuality, EachLevelStandsForTheSameNumbersInEveryEncoder)
{
    struct Row {
        GifQuality quality;
        int raw;
        const char *caseName;
        const char *label;
        int colors;
        const char *dither;
        int gifski;
        int crf;
    };
    const Row rows[] = {
        {GifQuality::low, 0, "low", "Low (small file)", 64, "bayer:bayer_scale=5", 50, 28},
        {GifQuality::medium, 1, "medium", "Medium", 128, "bayer:bayer_scale=3", 70, 23},
        {GifQuality::high, 2, "high", "High", 200, "sierra2_4a", 90, 20},
        {GifQuality::max, 3, "max", "Max (large file)", 256, "floyd_steinberg", 100, 16},
    };
    ASSERT_EQ(allGifQualities.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE(row.caseName);
        EXPECT_EQ(allGifQualities[i], row.quality);
        EXPECT_EQ(rawValue(row.quality), row.raw);
        EXPECT_EQ(gifQualityFromRaw(row.raw), row.quality);
        EXPECT_EQ(caseName(row.quality), QLatin1String(row.caseName));
        EXPECT_EQ(label(row.quality), QLatin1String(row.label));
        EXPECT_EQ(maxColors(row.quality), row.colors);
        EXPECT_EQ(ffmpegDither(row.quality), QLatin1String(row.dither));
        EXPECT_EQ(gifskiQuality(row.quality), row.gifski);
        EXPECT_EQ(mp4CRF(row.quality), row.crf);
    }
    EXPECT_EQ(gifQualityFromRaw(-1), std::nullopt);
    EXPECT_EQ(gifQualityFromRaw(4), std::nullopt);
}

TEST(GifEncoder, RawValuesMatchExactlyAndLabelsAreTheMenuTitles)
{
    EXPECT_EQ(allGifEncoders, (std::array {GifEncoder::ffmpeg, GifEncoder::gifski, GifEncoder::imageIO}));
    EXPECT_EQ(gifEncoderFromRaw(QStringLiteral("imageIO")), GifEncoder::imageIO);
    EXPECT_EQ(gifEncoderFromRaw(QStringLiteral("ffmpeg")), GifEncoder::ffmpeg);
    EXPECT_EQ(gifEncoderFromRaw(QStringLiteral("gifski")), GifEncoder::gifski);
    EXPECT_EQ(gifEncoderFromRaw(QStringLiteral("imageio")), std::nullopt);
    EXPECT_EQ(gifEncoderFromRaw(QStringLiteral("FFmpeg")), std::nullopt);
    EXPECT_EQ(label(GifEncoder::ffmpeg), QStringLiteral("High quality (ffmpeg)"));
    EXPECT_EQ(label(GifEncoder::gifski), QStringLiteral("Best (gifski)"));
    EXPECT_EQ(label(GifEncoder::imageIO), QStringLiteral("System (built-in)"));
    for (GifEncoder encoder : allGifEncoders)
        EXPECT_EQ(gifEncoderFromRaw(rawValue(encoder)), encoder);
}

TEST(ExportOptions, TheOverrideIsAbsentUnlessGiven)
{
    const ExportOptions options(GifEncoder::gifski, GifQuality::medium, 3);
    EXPECT_EQ(options.encoder, GifEncoder::gifski);
    EXPECT_EQ(options.quality, GifQuality::medium);
    EXPECT_EQ(options.loopCount, 3);
    EXPECT_EQ(options.fpsOverride, std::nullopt);
}

TEST(GifEncoder, AvailabilityAndDefaultFollowTheInstalledTools)
{
    struct Case {
        QStringList installed;
        GifEncoder expectedDefault;
        bool ffmpeg;
        bool gifski;
    };
    const Case cases[] = {
        {{}, GifEncoder::imageIO, false, false},
        {{QStringLiteral("ffmpeg")}, GifEncoder::ffmpeg, true, false},
        {{QStringLiteral("ffmpeg"), QStringLiteral("gifski")}, GifEncoder::gifski, true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.installed.join(QLatin1Char(',')).toStdString());
        const StubTools tools(c.installed);
        EXPECT_EQ(GifExporter::defaultEncoder(), c.expectedDefault);
        EXPECT_EQ(isAvailable(GifEncoder::ffmpeg), c.ffmpeg);
        EXPECT_EQ(isAvailable(GifEncoder::gifski), c.gifski);
        EXPECT_TRUE(isAvailable(GifEncoder::imageIO));
    }
}
