// A recording as a user makes it in each headless Wayland desktop: an
// animating Wayland client under the region, REC and Stop clicked, the editor
// opened on the frames, and those frames exported as a GIF through the
// editor's keys and compared with the compositor's own screenshot.
#include "WaylandProgram.h"

#include "frameui/Palette.h"

#include <QFile>
#include <QImageReader>
#include <QLockFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>

namespace {

bool near(QRgb p, const QColor &c, int tolerance)
{
    return std::abs(qRed(p) - c.red()) <= tolerance && std::abs(qGreen(p) - c.green()) <= tolerance
        && std::abs(qBlue(p) - c.blue()) <= tolerance;
}

// Pixels of the frame's signal colours (its border idle and recording, the
// REC label) outside `client`, whose own colours may come near them.
int chromePixels(const QImage &image, const QRect &client)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            count += !client.contains(x, y) && (near(p, Palette::lime(), 24) || near(p, Palette::recRed(), 24));
        }
    }
    return count;
}

struct Difference {
    double mean = 0; // per channel, 0 to 255
    double farShare = 0; // pixels off by more than 48 in some channel
};

Difference compare(const QImage &a, const QImage &b)
{
    Difference d;
    if (a.size() != b.size() || a.isNull())
        return {255, 1};
    double sum = 0;
    int64_t far = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int dr = std::abs(qRed(p) - qRed(q)), dg = std::abs(qGreen(p) - qGreen(q)),
                      db = std::abs(qBlue(p) - qBlue(q));
            sum += dr + dg + db;
            far += std::max({dr, dg, db}) > 48;
        }
    }
    const double pixels = double(a.width()) * a.height();
    return {sum / (3 * pixels), double(far) / pixels};
}

class WaylandRecording : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::optional<WaylandDesktop> desktop = WaylandDesktop::fromEnvironment();
        if (!desktop)
            GTEST_SKIP() << "no headless desktop: run through ctest -L wayland";
        program = std::make_unique<WaylandProgram>(*desktop);
    }

    std::unique_ptr<WaylandProgram> program;
};

TEST_F(WaylandRecording, RecAndStop_RecordTheClientUnderTheRegion_AtTheOutputsScale_WithoutTheFrame)
{
    WaylandProgram &p = *program;
    const double scale = p.desktop().scale();
    const QSize screen = p.logicalScreen();

    // The client's top-left part and the desktop around it, with room below
    // the region for the control bar while recording.
    const std::optional<WaylandProgram::Client> client = p.startClient({screen.width() / 8, screen.height() / 4});
    ASSERT_TRUE(client);
    const QRect region(client->rect.x() - 40, client->rect.y() - 40, 300, 200);
    p.remember(QStringLiteral("lastRegionScreen"), p.screenName());
    p.remember(QStringLiteral("lastRegion"),
        QStringLiteral("\"%1,%2,%3,%4\"").arg(region.x()).arg(region.y()).arg(region.width()).arg(region.height()));
    // GNOME asks before sharing unless it knows the token.
    if (!p.desktop().restoreToken().isEmpty())
        p.remember(QStringLiteral("portalRestoreToken"), p.desktop().restoreToken());
    ASSERT_TRUE(p.launch());

    const auto idle = p.waitForBar([&](const QRect &bar) { return bar.intersects(region); });
    ASSERT_TRUE(idle) << p.lines().join('\n').toStdString();
    ASSERT_TRUE(p.click(idle->second.rec));
    const std::optional<QString> first = p.waitForLine(QStringLiteral("first frame "));
    ASSERT_TRUE(first) << p.lines().join('\n').toStdString();
    EXPECT_TRUE(p.lines().filter(QStringLiteral("backend=portal")).size() == 1) << p.lines().join('\n').toStdString();
    // At scale 2 the frames have twice the region's pixels.
    const QSize pixels(qRound(region.width() * scale), qRound(region.height() * scale));
    EXPECT_EQ(first->toStdString(),
        QStringLiteral("first frame %1x%2").arg(pixels.width()).arg(pixels.height()).toStdString());

    // While recording, the bar is outside the region.
    const auto recording = p.waitForBar([&](const QRect &bar) { return !bar.intersects(region); });
    ASSERT_TRUE(recording) << p.lines().join('\n').toStdString();
    WaylandProgram::pump(1500);

    // The client holds still, so its last picture is the screenshot's.
    ASSERT_EQ(::kill(pid_t(client->pid), SIGSTOP), 0);
    WaylandProgram::pump(800);
    const QImage shot = p.screenshot();
    ASSERT_FALSE(shot.isNull());
    ASSERT_EQ(shot.size(), p.desktop().outputSize());
    const QRect regionPixels(QPoint(qRound(region.x() * scale), qRound(region.y() * scale)), pixels);
    const QImage expected = shot.copy(regionPixels);
    // The border would show along the region's edges: the desktop there.
    const QRect clientPixels(
        QPoint(qRound((client->rect.x() - region.x()) * scale), qRound((client->rect.y() - region.y()) * scale)),
        client->rect.size() * scale);
    EXPECT_EQ(chromePixels(expected, clientPixels), 0) << "the frame's chrome is inside the region";

    ASSERT_TRUE(p.click(recording->second.stop));
    const std::optional<QString> opening = p.waitForLine(QStringLiteral("→ opening editor with "));
    ASSERT_TRUE(opening) << p.lines().join('\n').toStdString();
    const int frames = QRegularExpression(QStringLiteral("with (\\d+) frames")).match(*opening).captured(1).toInt();
    EXPECT_GE(frames, 5) << p.lines().join('\n').toStdString();
    ::kill(pid_t(client->pid), SIGCONT);

    // Export through the editor's keys, as the user would.
    ASSERT_TRUE(p.waitUntil([&] { return !p.windowsNamed(QStringLiteral("Editor")).isEmpty(); }, 20000));
    WaylandProgram::pump(500);
    const QString gif = p.statePath(QStringLiteral("Recording.gif"));
    ASSERT_TRUE(p.xdotool({"key", "ctrl+s"}));
    ASSERT_TRUE(p.waitUntil([&] { return !p.windowsNamed(QStringLiteral("^Export$")).isEmpty(); }, 20000))
        << p.lines().join('\n').toStdString();
    WaylandProgram::pump(500);
    ASSERT_TRUE(p.xdotool({"key", "ctrl+a", "type", "--delay", "20", gif}));
    ASSERT_TRUE(p.xdotool({"key", "Return"}));
    const std::optional<QString> done = p.waitForLine(QStringLiteral("export done ok="), 120000);
    ASSERT_TRUE(done) << p.lines().join('\n').toStdString();
    ASSERT_TRUE(done->startsWith(QStringLiteral("export done ok=true"))) << done->toStdString();

    // Every frame at the region's pixel size without the frame's colours;
    // they change while the client animates; the last is what the
    // compositor showed once the client held still (GIF colours are close,
    // not exact).
    QImageReader reader(gif);
    std::vector<QImage> images;
    for (QImage image; reader.read(&image);)
        images.push_back(image.convertToFormat(QImage::Format_RGB32));
    ASSERT_GE(images.size(), 3u);
    int changes = 0;
    for (size_t i = 0; i < images.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(images[i].size(), pixels);
        EXPECT_EQ(chromePixels(images[i], clientPixels), 0);
        changes += i > 0 && compare(images[i], images[i - 1]).mean > 1;
    }
    EXPECT_GE(changes, 2);
    const Difference last = compare(images.back(), expected);
    EXPECT_LT(last.mean, 6) << "mean difference from the screenshot";
    EXPECT_LT(last.farShare, 0.02) << "share of pixels far from the screenshot's";
    if (HasFailure()) {
        // Kept with the desktop's logs.
        const QString logs
            = p.desktop().environment().value(QStringLiteral("QUILLO_WAYLAND_DIR")) + QStringLiteral("/log/");
        expected.save(logs + QStringLiteral("recording-expected.png"));
        images.back().save(logs + QStringLiteral("recording-last.png"));
    }
}

// The headless recording test, in each desktop: a slow first picture (GNOME
// without a GPU, under load) must not eat its two seconds.
TEST_F(WaylandRecording, SelfTestRecord_OverAnAnimatingClient_KeepsFramesAndWritesAGif)
{
    WaylandProgram &p = *program;
    const double scale = p.desktop().scale();
    // Under the recorded corner: 240 x 160 points, 60 in from the top-left.
    ASSERT_TRUE(p.startClient({40, 40}));
    if (!p.desktop().restoreToken().isEmpty())
        p.remember(QStringLiteral("portalRestoreToken"), p.desktop().restoreToken());
    const QString gif = QStringLiteral("/tmp/quillo-headless.gif");
    // The mode's file is the same for every desktop, whose tests may run at
    // once.
    QLockFile lock(gif + QStringLiteral(".lock"));
    ASSERT_TRUE(lock.tryLock(180000));
    QFile::remove(gif);
    ASSERT_TRUE(p.launch({QStringLiteral("--selftest-record")}));
    ASSERT_TRUE(p.waitUntil([&] { return p.process().state() == QProcess::NotRunning; }, 90000));
    const QString out = QString::fromUtf8(p.process().readAllStandardOutput());
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^FRAMES=(\\d+) EXPORT=true ")).match(out);
    ASSERT_TRUE(m.hasMatch()) << out.toStdString() << p.lines().join('\n').toStdString();
    EXPECT_GT(m.captured(1).toInt(), 5) << p.lines().join('\n').toStdString();
    EXPECT_EQ(p.process().exitCode(), 0);
    EXPECT_TRUE(p.lines().filter(QStringLiteral("backend=portal")).size() == 1);
    QImageReader reader(gif);
    EXPECT_EQ(reader.size(), QSize(qRound(240 * scale), qRound(160 * scale)));
}

} // namespace
