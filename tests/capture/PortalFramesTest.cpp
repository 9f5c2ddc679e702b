#include "capture/portal/PortalFrames.h"

#include <gtest/gtest.h>

#include <vector>

using PortalFrames::Layout;

TEST(PortalFrames, StreamScale_IsStreamPixelsPerLogicalPoint)
{
    EXPECT_EQ(PortalFrames::streamScale(1280, 1280), 1.0);
    EXPECT_EQ(PortalFrames::streamScale(1920, 1280), 1.5);
    EXPECT_EQ(PortalFrames::streamScale(2560, 1280), 2.0);
    EXPECT_EQ(PortalFrames::streamScale(0, 1280), 1.0);
    EXPECT_EQ(PortalFrames::streamScale(2560, 0), 1.0);
    EXPECT_EQ(PortalFrames::streamScale(2560, std::nan("")), 1.0);
}

TEST(PortalFrames, Region_IsScaledRoundedOutward_MovedByTheContent_AndClipped)
{
    struct Case {
        const char *name;
        QRectF logical;
        double scale;
        QRect content;
        QRect expected;
    } cases[] = {
        {"scale 1", {100, 50, 240, 160}, 1.0, {0, 0, 1280, 720}, {100, 50, 240, 160}},
        {"scale 2", {100, 50, 240, 160}, 2.0, {0, 0, 2560, 1440}, {200, 100, 480, 320}},
        {"scale 1.5 keeps the last half pixel", {1, 1, 101, 101}, 1.5, {0, 0, 1920, 1080}, {1, 1, 152, 152}},
        {"inside a cropped buffer", {10, 10, 20, 20}, 1.0, {40, 30, 640, 480}, {50, 40, 20, 20}},
        {"hanging off the bottom right", {1200, 700, 200, 100}, 1.0, {0, 0, 1280, 720}, {1200, 700, 80, 20}},
        {"wholly outside", {2000, 0, 10, 10}, 1.0, {0, 0, 1280, 720}, {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PortalFrames::regionInBuffer(c.logical, c.scale, c.content), c.expected) << c.name;
}

TEST(PortalFrames, Damage_SkipsOnlyWhatProvablyDidNotChange)
{
    const QRect region(100, 100, 50, 50);
    EXPECT_TRUE(PortalFrames::touches({}, region)); // no list: anything may have changed
    EXPECT_TRUE(PortalFrames::touches({QRect(0, 0, 10, 10), QRect(140, 140, 20, 20)}, region));
    EXPECT_FALSE(PortalFrames::touches({QRect(0, 0, 100, 100), QRect(150, 0, 10, 300)}, region));
}

TEST(PortalFrames, Copy_ReadsEachByteOrder_AtItsStride_AsOpaqueFrames)
{
    // Two rows of three pixels, then padding to a 16-byte stride; the pixel
    // at (1, 1) is red 0x11, green 0x22, blue 0x33, its fourth byte 0x00.
    const int stride = 16;
    struct Case {
        Layout layout;
        std::vector<uint8_t> pixel; // bytes in memory
    } cases[] = {
        {Layout::bgrx, {0x33, 0x22, 0x11, 0x00}},
        {Layout::bgra, {0x33, 0x22, 0x11, 0x00}},
        {Layout::rgbx, {0x11, 0x22, 0x33, 0x00}},
        {Layout::rgba, {0x11, 0x22, 0x33, 0x00}},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> buffer(stride * 2, 0xee);
        std::copy(c.pixel.begin(), c.pixel.end(), buffer.begin() + stride + 4);
        const QImage image
            = PortalFrames::copyRegion(buffer.data(), buffer.size(), stride, QRect(1, 0, 2, 2), c.layout);
        ASSERT_EQ(image.size(), QSize(2, 2)) << int(c.layout);
        EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_EQ(image.pixel(0, 1), 0xff112233u) << int(c.layout);
        EXPECT_EQ(image.pixel(1, 0), 0xffeeeeeeu) << int(c.layout); // padding is never read as a pixel
    }
    // A rectangle the buffer does not hold gives no image rather than a read
    // past its end.
    std::vector<uint8_t> small(stride * 2);
    EXPECT_TRUE(PortalFrames::copyRegion(small.data(), small.size(), stride, QRect(0, 0, 3, 3), Layout::bgrx).isNull());
    EXPECT_TRUE(PortalFrames::copyRegion(small.data(), small.size(), stride, QRect(2, 0, 3, 1), Layout::bgrx).isNull());
    EXPECT_TRUE(PortalFrames::copyRegion(small.data(), small.size(), 8, QRect(0, 0, 3, 1), Layout::bgrx).isNull());
}
