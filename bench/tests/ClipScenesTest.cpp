#include "ClipScenes.h"
#include "ClipFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

// The benchmark's comparisons lean on properties of its clips: frames that
// can be paired by index with a decoded GIF, content that is what each clip
// claims to be, and the same pixels on every run.

namespace {

// Share of pixels that differ between two frames.
double changedShare(const QImage &a, const QImage &b)
{
    int64_t changed = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *pa = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *pb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            changed += pa[x] != pb[x];
    }
    return double(changed) / (double(a.width()) * a.height());
}

} // namespace

TEST(ClipScenes, EveryClipHasItsFramesDelaysAndCharacter)
{
    const QSize size(320, 210);
    // Upper and lower bounds of the share of pixels changing per frame.
    const std::map<QString, std::pair<double, double>> character {
        {QStringLiteral("typing"), {0.0, 0.05}},
        {QStringLiteral("scrolling"), {0.1, 1.0}},
        {QStringLiteral("video"), {0.4, 0.7}},
    };
    ASSERT_EQ(ClipScenes::names().size(), 3);
    for (const QString &name : ClipScenes::names()) {
        SCOPED_TRACE(name.toStdString());
        const std::optional<ClipScenes::Clip> clip = ClipScenes::make(name, size);
        ASSERT_TRUE(clip);
        ASSERT_EQ(clip->delaysMs.size(), size_t(ClipScenes::FRAMES));
        EXPECT_GE(*std::min_element(clip->delaysMs.begin(), clip->delaysMs.end()), 20);
        // Variable delays, not one repeated value.
        EXPECT_NE(*std::min_element(clip->delaysMs.begin(), clip->delaysMs.end()),
            *std::max_element(clip->delaysMs.begin(), clip->delaysMs.end()));
        EXPECT_GT(clip->fps, 0);

        for (int i : {0, 1, 2, 7, 8, 150, 151, 298, 299}) {
            const QImage frame = clip->frame(i);
            ASSERT_EQ(frame.size(), size);
            EXPECT_EQ(frame.format(), QImage::Format_ARGB32_Premultiplied);
            EXPECT_EQ(qAlpha(frame.pixel(0, 0)), 255);
            EXPECT_EQ(qAlpha(frame.pixel(size.width() / 2, size.height() / 2)), 255);
            if (i > 0) {
                // Neighbours differ, so no encoder merges them.
                const double share = changedShare(clip->frame(i - 1), frame);
                EXPECT_GT(share, 0.0) << "frame " << i;
                EXPECT_GE(share, character.at(name).first) << "frame " << i;
                EXPECT_LE(share, character.at(name).second) << "frame " << i;
            }
        }
        // Deterministic: drawn again, the same pixels.
        EXPECT_EQ(ClipScenes::make(name, size)->frame(151), clip->frame(151));
    }
    EXPECT_FALSE(ClipScenes::make(QStringLiteral("nothing"), size));
}

TEST(ClipFiles, LoadsAWrittenClipAndRefusesAnIncompleteOne)
{
    QTemporaryDir dir;
    QImage frame(4, 3, QImage::Format_RGB32);
    for (int i = 0; i < 3; ++i) {
        frame.fill(qRgb(i * 40, 10, 20));
        ASSERT_TRUE(frame.save(dir.filePath(QStringLiteral("frame%1.png").arg(i, 5, 10, QLatin1Char('0')))));
    }
    auto write = [&](const char *name, const QByteArray &text) {
        QFile file(dir.filePath(QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    };
    write("delays.txt", "40\n70\n120\n");
    write("fps.txt", "25\n");
    QString error;
    const GifProjectRef project = ClipFiles::load(dir.path(), &error);
    ASSERT_TRUE(project) << error.toStdString();
    ASSERT_EQ(project->frames.size(), 3u);
    EXPECT_EQ(project->fps, 25);
    EXPECT_EQ(project->frames[1]->delayMs, 70);
    EXPECT_EQ(project->frames[2]->image().pixel(0, 0), qRgb(80, 10, 20));
    EXPECT_EQ(project->frames[0]->image().format(), QImage::Format_ARGB32_Premultiplied);

    // A delay short, a bad number, a missing frame rate: each refused with a reason.
    for (const QByteArray &delays : {QByteArray("40\n70\n"), QByteArray("40\nseventy\n120\n")}) {
        write("delays.txt", delays);
        EXPECT_FALSE(ClipFiles::load(dir.path(), &error));
        EXPECT_FALSE(error.isEmpty());
    }
    write("delays.txt", "40\n70\n120\n");
    QFile::remove(dir.filePath(QStringLiteral("fps.txt")));
    error.clear();
    EXPECT_FALSE(ClipFiles::load(dir.path(), &error));
    EXPECT_TRUE(error.contains(QLatin1String("fps.txt")));
}
