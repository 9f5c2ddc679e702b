#include "model/ImageOps.h"

#include <gtest/gtest.h>

namespace {
QImage gradient(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x, y, 0));
    return img;
}
} // namespace

TEST(ImageOps, CropClampsAndRoundsAsDocumented)
{
    const QImage src = gradient(100, 80);
    struct Row {
        QRectF rect;
        QSize size; // expected result size; invalid = the input itself
        QPoint origin; // the source pixel that lands at (0, 0)
    };
    const Row rows[] = {
        {{10, 10, 40, 30}, {40, 30}, {10, 10}},
        {{-50, -50, 9999, 9999}, {100, 80}, {0, 0}},
        {{10.7, 10.2, 39.5, 29.4}, {40, 29}, {10, 10}},
        {{50, 0, -40, 10}, {40, 10}, {10, 0}},
        {{90, 70, 50, 50}, {10, 10}, {90, 70}},
        {{100, 0, 10, 10}, {}, {}},
        {{0, 80, 10, 10}, {}, {}},
        {{-20, 0, 10, 10}, {}, {}},
        {{10, 10, 0.4, 10}, {}, {}},
        {{10, 10, 0.5, 0.5}, {1, 1}, {10, 10}},
    };
    for (const Row &row : rows) {
        const QImage out = ImageOps::crop(src, row.rect);
        if (!row.size.isValid()) {
            EXPECT_EQ(out.cacheKey(), src.cacheKey()) << row.rect.x() << "," << row.rect.y();
            continue;
        }
        EXPECT_EQ(out.size(), row.size) << row.rect.x() << "," << row.rect.y();
        EXPECT_EQ(out.pixel(0, 0), src.pixel(row.origin)) << row.rect.x() << "," << row.rect.y();
    }
    const QImage empty;
    EXPECT_TRUE(ImageOps::crop(empty, {0, 0, 10, 10}).isNull());
}

TEST(ImageOps, ResizeRoundsClampsAndReturnsTheInputForTheSameSize)
{
    const QImage src = gradient(100, 80);
    EXPECT_EQ(ImageOps::resize(src, {50, 40}).size(), QSize(50, 40));
    EXPECT_EQ(ImageOps::resize(src, {0, 0}).size(), QSize(1, 1));
    EXPECT_EQ(ImageOps::resize(src, {-5, 3}).size(), QSize(1, 3));
    EXPECT_EQ(ImageOps::resize(src, {200.5, 80}).size(), QSize(201, 80));
    EXPECT_EQ(ImageOps::resize(src, {100, 80}).cacheKey(), src.cacheKey());
    EXPECT_EQ(ImageOps::resize(src, {99.5, 80.4}).cacheKey(), src.cacheKey());
    EXPECT_EQ(ImageOps::resize(src, {50, 40}).format(), QImage::Format_ARGB32_Premultiplied);
}

TEST(ImageOps, ResizeScalesContentWithoutKeepingTheAspect)
{
    QImage src(100, 80, QImage::Format_ARGB32_Premultiplied);
    src.fill(Qt::black);
    for (int y = 0; y < 80; ++y)
        for (int x = 50; x < 100; ++x)
            src.setPixel(x, y, qRgb(255, 255, 255));
    const QImage out = ImageOps::resize(src, {200, 20});
    EXPECT_EQ(out.size(), QSize(200, 20));
    EXPECT_LT(qGray(out.pixel(10, 10)), 10);
    EXPECT_GT(qGray(out.pixel(190, 10)), 245);
}
