#include "EditorTestSupport.h"

#include "editor/FramePreviewView.h"
#include "model/ImageOps.h"

#include <QComboBox>
#include <QMainWindow>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

GifProjectRef mixedSizeProject()
{
    GifFrameList frames;
    const QSize sizes[] = {{100, 80}, {50, 40}, {20, 16}};
    for (const QSize size : sizes) {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                image.setPixel(x, y, qRgb(x, y, size.width()));
        frames.push_back(std::make_shared<GifFrame>(image, 60));
    }
    return std::make_shared<GifProject>(std::move(frames), 15);
}

} // namespace

TEST(FramePreviewGeometry, CropSelectionBecomesWholeImagePixels)
{
    struct Row {
        QSize image;
        Rect draw;
        Rect crop; // view points, y up
        std::optional<QRect> expected;
    };
    const Row rows[] = {
        {{400, 300}, {0, 0, 200, 150}, {0, 0, 200, 150}, QRect(0, 0, 400, 300)},
        {{400, 300}, {0, 0, 200, 150}, {0, 75, 100, 75}, QRect(0, 0, 200, 150)},
        {{400, 300}, {10, 20, 200, 150}, {60, 20, 50, 50}, QRect(100, 200, 100, 100)},
        {{400, 300}, {0, 0, 200, 150}, {150, 100, 500, 500}, QRect(300, 0, 100, 300)},
        {{400, 300}, {0, 0, 200, 150}, {10, 10, 2, 40}, std::nullopt},
        {{0, 0}, {0, 0, 200, 150}, {10, 10, 40, 40}, std::nullopt},
        {{400, 300}, {0, 0, 0, 150}, {10, 10, 40, 40}, std::nullopt},
    };
    for (const Row &row : rows)
        EXPECT_EQ(FramePreviewView::cropRectInPixels(row.image, row.draw, row.crop), row.expected)
            << row.crop.x << "," << row.crop.y;
}

TEST(EditorCrop, OneRectangleCropsFramesOfEverySize)
{
    EditorController c(mixedSizeProject());
    const GifFrameList frames = c.project()->frames;
    const std::vector<QImage> originals {frames[0]->image(), frames[1]->image(), frames[2]->image()};
    c.preview()->resize(232, 196);

    c.enterCrop();
    EXPECT_TRUE(c.preview()->cropMode());
    EXPECT_FALSE(c.zoomPopup()->isEnabled());
    EXPECT_EQ(c.cropToggleBtn()->text(), QStringLiteral("Cropping…"));
    EXPECT_FALSE(c.cropApplyBtn()->isHidden());
    EXPECT_FALSE(c.cropApplyBtn()->isEnabled());

    // Pixels (30, 20, 60, 50) of the 100 x 80 frame on show.
    const Rect d = *c.preview()->imageDrawRect();
    const double s = d.width / 100;
    c.preview()->setCropRect(Rect {d.x + 30 * s, d.y + 10 * s, 60 * s, 50 * s});
    c.cropChanged();
    ASSERT_TRUE(c.cropApplyBtn()->isEnabled());
    const QRectF pixels(30, 20, 60, 50);
    ASSERT_EQ(c.preview()->cropRectInPixels(), QRect(30, 20, 60, 50));

    c.applyCrop();
    EXPECT_EQ(c.project()->frames, frames);
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(frames[i]->image(), ImageOps::crop(originals[i], pixels)) << i;
    EXPECT_EQ(frames[0]->size(), QSize(60, 50));
    EXPECT_EQ(frames[1]->size(), QSize(20, 20));
    EXPECT_EQ(frames[2]->size(), QSize(20, 16));
    EXPECT_FALSE(c.preview()->cropMode());
    EXPECT_TRUE(c.zoomPopup()->isEnabled());
    EXPECT_EQ(c.cropToggleBtn()->text(), QStringLiteral("Crop"));
    EXPECT_TRUE(c.cropApplyBtn()->isHidden());

    c.undoAction();
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(c.project()->frames[i]->size(), originals[i].size());
}

TEST(EditorCrop, ApplyCropLooksDisabledUntilThereIsASelection)
{
    EditorController c(makeProject(3, 100, 80));
    c.enterCrop();
    QPushButton *apply = c.cropApplyBtn();
    ASSERT_FALSE(apply->isEnabled());
    apply->resize(apply->sizeHint());
    // The mean brightness of the whole button, bezel and title.
    const auto brightness = [apply] {
        const QImage shot = apply->grab().toImage();
        double sum = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                sum += QColor(shot.pixel(x, y)).lightnessF();
        return sum / (shot.width() * shot.height());
    };
    const double disabled = brightness();
    apply->setEnabled(true);
    const double enabled = brightness();
    EXPECT_LT(disabled, enabled * 0.8) << disabled << " vs " << enabled;
}

TEST(EditorCrop, ApplyWithoutSelectionBeepsAndRecordsNothing)
{
    EditorController c(makeProject(3, 100, 80));
    c.toggleCrop();
    c.applyCrop();
    EXPECT_EQ(c.beepCount(), 1);
    EXPECT_EQ(c.undoDepth(), 0u);
    EXPECT_TRUE(c.preview()->cropMode());
    c.toggleCrop();
    EXPECT_FALSE(c.preview()->cropMode());
}

TEST(EditorResize, OpeningReadsTheCanvasAndLeavesCropMode)
{
    EditorController c(makeProject(2, 800, 400));
    c.enterCrop();
    c.openResize();
    EXPECT_FALSE(c.preview()->cropMode());
    ASSERT_TRUE(c.resizeSheet());
    EXPECT_EQ(c.resizeSheet()->windowTitle(), QStringLiteral("Resize All Frames"));
    EXPECT_EQ(c.resizeWidth()->text(), QStringLiteral("800"));
    EXPECT_EQ(c.resizeHeight()->text(), QStringLiteral("400"));
    EXPECT_TRUE(c.resizeLock()->isChecked());
    EXPECT_EQ(c.resizeBaseAspect(), 2.0);

    // The ratio is the canvas's, not that of the numbers in the fields.
    c.resizeLock()->setChecked(false);
    c.resizeWidth()->setText(QStringLiteral("999"));
    c.resizeWidthChanged();
    EXPECT_EQ(c.resizeHeight()->text(), QStringLiteral("400"));
    c.resizeLock()->setChecked(true);
    c.resizeLockToggled();
    EXPECT_EQ(c.resizeHeight()->text(), QStringLiteral("500"));
    for (const char *bad : {"0", "-5", "", "abc", "12/0"}) {
        c.resizeWidth()->setText(QString::fromUtf8(bad));
        c.resizeWidthChanged();
        EXPECT_EQ(c.resizeWidth()->text(), QStringLiteral("999")) << bad;
        EXPECT_EQ(c.resizeHeight()->text(), QStringLiteral("500")) << bad;
    }
    c.resizeWidth()->setText(QStringLiteral("435"));
    c.resizeWidthChanged();
    EXPECT_EQ(c.resizeHeight()->text(), QStringLiteral("218"));

    c.closeResize();
    EXPECT_FALSE(c.resizeSheet());
    EXPECT_EQ(c.undoDepth(), 0u);
    // The fields outlive the sheet, and a second opening starts afresh.
    ASSERT_TRUE(c.resizeWidth());
    c.openResize();
    EXPECT_EQ(c.resizeWidth()->text(), QStringLiteral("800"));
    EXPECT_EQ(c.lastGoodW(), 800);
}

TEST(EditorResize, ApplyClampsFallsBackAndSkipsTheCurrentSize)
{
    struct Row {
        const char *width;
        const char *height;
        QSize expected;
        bool recorded;
    };
    const Row rows[] = {
        {"20000", "400", {8000, 400}, true},
        {"1920/2", "300", {960, 300}, true},
        {"  640\t", "100*2", {640, 200}, true},
        {"800", "400", {800, 400}, false},
        {"abc", "0", {800, 400}, false},
        {"0", "-3", {800, 400}, false},
    };
    for (const Row &row : rows) {
        EditorController c(makeProject(2, 800, 400));
        c.openResize();
        c.resizeWidth()->setText(QString::fromUtf8(row.width));
        c.resizeHeight()->setText(QString::fromUtf8(row.height));
        c.applyResize();
        EXPECT_FALSE(c.resizeSheet()) << row.width;
        EXPECT_EQ(c.undoDepth(), row.recorded ? 1u : 0u) << row.width;
        for (const GifFrameRef &f : c.project()->frames)
            EXPECT_EQ(f->size(), row.expected) << row.width;
    }

    // Frames of different sizes all come out at the one size asked for.
    EditorController c(mixedSizeProject());
    c.openResize();
    c.resizeLock()->setChecked(false);
    c.resizeWidth()->setText(QStringLiteral("30"));
    c.resizeHeight()->setText(QStringLiteral("30"));
    c.applyResize();
    for (const GifFrameRef &f : c.project()->frames)
        EXPECT_EQ(f->size(), QSize(30, 30));
    c.undoAction();
    EXPECT_EQ(c.project()->frames[2]->size(), QSize(20, 16));
}
