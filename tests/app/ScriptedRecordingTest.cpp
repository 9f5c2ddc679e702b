#include "app/ScriptedRecording.h"

#include <gtest/gtest.h>

using ScriptedRecording::logicalRegion;
using ScriptedRecording::ScreenLayout;

TEST(ScriptedRecording, RegionInScreenPixelsBecomesQtLogicalPixelsOfItsScreen)
{
    // Two screens side by side; the right one at a device pixel ratio of 2
    // (its 1280 x 800 logical pixels are 2560 x 1600 on the wire).
    const std::vector<ScreenLayout> screens = {{QRect(0, 0, 1920, 1080), 1.0}, {QRect(1920, 0, 1280, 800), 2.0}};
    struct Row {
        QRect pixels;
        std::optional<QRectF> logical;
    } rows[] = {
        {QRect(40, 40, 320, 200), QRectF(40, 40, 320, 200)},
        {QRect(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1080)},
        // One pixel too wide or too tall for its screen.
        {QRect(1, 0, 1920, 1080), std::nullopt},
        {QRect(0, 1, 1920, 1080), std::nullopt},
        // Straddling both screens.
        {QRect(1800, 0, 400, 100), std::nullopt},
        {QRect(1920 + 100, 50, 640, 400), QRectF(1920 + 50, 25, 320, 200)},
        {QRect(1920, 0, 2560, 1600), QRectF(1920, 0, 1280, 800)},
        // Below the shorter screen: on none.
        {QRect(2000, 1700, 10, 10), std::nullopt},
    };
    for (const Row &row : rows) {
        const std::optional<QRectF> got = logicalRegion(row.pixels, screens);
        EXPECT_EQ(got, row.logical) << row.pixels.x() << "," << row.pixels.y();
    }
    EXPECT_FALSE(logicalRegion(QRect(0, 0, 10, 10), {}));
}

TEST(ScriptedRecording, ResultLineNamesFramesSizeTimeFileAndExport)
{
    EXPECT_EQ(ScriptedRecording::resultLine(
                  31, QSizeF(320, 200), 2066, QStringLiteral("/tmp/a.gif"), QStringLiteral("Exported with ffmpeg.")),
        QStringLiteral("Recorded 31 frames (320x200, 2.07 s) to /tmp/a.gif: Exported with ffmpeg."));
}
