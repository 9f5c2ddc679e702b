// The PipeWire side of the portal backend against a daemon of the test's own
// and a producer that behaves like a compositor's screencast.
#include "TestPipeWire.h"

#include "capture/portal/PipeWireStream.h"
#include "support/TestUtil.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

constexpr QRgb red = 0xffff0000, blue = 0xff0000ff, green = 0xff00ff00;

// Left part red, the rest blue, split at `splitX` (content pixels).
QImage splitPicture(QSize size, int splitX, QRgb right = blue)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(right);
    QPainter(&image).fillRect(QRect(0, 0, splitX, size.height()), QColor::fromRgb(red));
    return image;
}

// What a stream handed over.
struct Received {
    std::mutex mutex;
    std::vector<CaptureFrame> frames;
    std::optional<CaptureFailure> ended;
    // While set, the sink takes no frame: an engine that is busy.
    std::atomic<bool> busy = false;

    size_t count()
    {
        std::lock_guard lock(mutex);
        return frames.size();
    }
    CaptureFrame at(size_t i)
    {
        std::lock_guard lock(mutex);
        return frames.at(i);
    }
};

class PipeWireStreamTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_daemon = new TestPipeWireDaemon; }
    static void TearDownTestSuite() { delete s_daemon; }

    void SetUp() override { ASSERT_TRUE(s_daemon->isRunning()) << "pipewire did not start"; }

    // A stream of `producer`'s node for `region` (logical points) of a
    // monitor `logicalWidth` points wide, linked and running.
    std::unique_ptr<PipeWireStream> open(
        TestScreenProducer &producer, const QRectF &region, double logicalWidth, const std::shared_ptr<Received> &into)
    {
        EXPECT_NE(producer.nodeId(), 0u);
        CaptureSink sink;
        sink.queue = queue;
        sink.onFrame = [into](CaptureFrame f) {
            while (into->busy.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::lock_guard lock(into->mutex);
            into->frames.push_back(std::move(f));
        };
        sink.onEnded = [into](const CaptureFailure &f) {
            std::lock_guard lock(into->mutex);
            into->ended = f;
        };
        PipeWireStream::Target target;
        target.fd = s_daemon->connect();
        target.nodeId = producer.nodeId();
        target.region = region;
        target.logicalWidth = logicalWidth;
        target.fps = 30;
        QString error;
        auto stream = PipeWireStream::open(target, std::move(sink), &error);
        EXPECT_TRUE(stream) << error.toStdString();
        EXPECT_TRUE(s_daemon->link(producer.nodeId(), "Screen"));
        EXPECT_TRUE(producer.waitUntilStreaming());
        return stream;
    }

    // Pushes `picture` until a frame comes back (the first buffers may go out
    // before the link carries them); the frames so far.
    bool pushUntilReceived(TestScreenProducer &producer, const QImage &picture, Received &received, size_t want)
    {
        return waitUntil([&] {
            if (received.count() >= want)
                return true;
            producer.push(picture);
            queue->drain();
            return received.count() >= want;
        });
    }

    static inline TestPipeWireDaemon *s_daemon = nullptr;
    std::shared_ptr<SerialQueue> queue = makeSharedSerialQueue(QStringLiteral("test.capture"));
};

QRgb pixelAt(const CaptureFrame &f, int x, int y)
{
    return f.image.pixel(x, y);
}

} // namespace

TEST_F(PipeWireStreamTest, EveryByteOrder_AtAPaddedStride_GivesTheRegionsPixels)
{
    using Format = TestScreenProducer::Format;
    for (Format format : {Format::bgrx, Format::bgra, Format::rgbx, Format::rgba}) {
        SCOPED_TRACE(int(format));
        TestScreenProducer producer(*s_daemon, {format, {320, 200}, 64, std::nullopt});
        auto received = std::make_shared<Received>();
        auto stream = open(producer, QRectF(150, 50, 40, 20), 320, received);
        ASSERT_TRUE(pushUntilReceived(producer, splitPicture({320, 200}, 160), *received, 1));
        const CaptureFrame f = received->at(0);
        ASSERT_EQ(f.status, FrameStatus::complete);
        ASSERT_EQ(f.image.size(), QSize(40, 20));
        EXPECT_EQ(f.image.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_EQ(pixelAt(f, 9, 10), red);
        EXPECT_EQ(pixelAt(f, 10, 10), blue);
        EXPECT_EQ(pixelAt(f, 39, 19), blue);
        EXPECT_NEAR(f.presentationTime, monotonicSeconds(), 5.0);
    }
}

TEST_F(PipeWireStreamTest, TheRegionIsCutAtTheStreamsScale_InsideTheAnnouncedContent)
{
    struct Case {
        const char *name;
        QSize buffer;
        std::optional<QRect> crop;
        double logicalWidth;
        QSize frame;
        int split; // frame pixels of red
    } cases[] = {
        {"scale 1", {320, 200}, std::nullopt, 320, {40, 20}, 10},
        {"scale 2", {640, 400}, std::nullopt, 320, {80, 40}, 20},
        {"scale 2 inside a crop", {700, 460}, QRect(30, 20, 640, 400), 320, {80, 40}, 20},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestScreenProducer producer(*s_daemon, {TestScreenProducer::Format::bgrx, c.buffer, 0, c.crop});
        auto received = std::make_shared<Received>();
        auto stream = open(producer, QRectF(150, 50, 40, 20), c.logicalWidth, received);
        const QSize content = c.crop ? c.crop->size() : c.buffer;
        ASSERT_TRUE(pushUntilReceived(producer, splitPicture(content, content.width() / 2), *received, 1));
        const CaptureFrame f = received->at(0);
        ASSERT_EQ(f.image.size(), c.frame);
        EXPECT_EQ(pixelAt(f, c.split - 1, 0), red);
        EXPECT_EQ(pixelAt(f, c.split, c.frame.height() - 1), blue);
        // Nothing of the noise around the content.
        for (int y = 0; y < f.image.height(); ++y)
            for (int x = 0; x < f.image.width(); ++x)
                ASSERT_TRUE(f.image.pixel(x, y) == red || f.image.pixel(x, y) == blue) << x << "," << y;
    }
}

TEST_F(PipeWireStreamTest, OnlyChangesInTheRegionMakeNewFrames)
{
    TestScreenProducer producer(*s_daemon, {TestScreenProducer::Format::bgrx, {320, 200}, 0, std::nullopt});
    auto received = std::make_shared<Received>();
    auto stream = open(producer, QRectF(150, 50, 40, 20), 320, received);
    const QImage first = splitPicture({320, 200}, 160);
    ASSERT_TRUE(pushUntilReceived(producer, first, *received, 1));
    // Pictures pushed while the link came up may still be on their way.
    waitUntil([] { return false; }, 200);
    queue->drain();
    const size_t before = received->count();
    // The same picture again; a change outside the region, said by damage; a
    // change outside the region without damage; then one inside.
    QImage outside = first;
    QPainter(&outside).fillRect(QRect(0, 150, 50, 50), QColor::fromRgb(green));
    QImage outsideAgain = outside;
    QPainter(&outsideAgain).fillRect(QRect(0, 0, 50, 50), QColor::fromRgb(green));
    const QImage inside = splitPicture({320, 200}, 160, green);
    for (const auto &[picture, damage] : std::vector<std::pair<QImage, std::vector<QRect>>> {
             {first, {}}, {outside, {QRect(0, 150, 50, 50)}}, {outsideAgain, {}}, {inside, {}}}) {
        const size_t was = received->count();
        ASSERT_TRUE(producer.push(picture, damage));
        ASSERT_TRUE(waitUntil([&] { return received->count() > was; }));
    }
    queue->drain();
    std::vector<FrameStatus> statuses;
    for (size_t i = before; i < received->count(); ++i)
        statuses.push_back(received->at(i).status);
    EXPECT_EQ(statuses,
        (std::vector<FrameStatus> {FrameStatus::idle, FrameStatus::idle, FrameStatus::idle, FrameStatus::complete}));
    EXPECT_EQ(pixelAt(received->at(received->count() - 1), 39, 0), green);
    EXPECT_TRUE(received->at(before).image.isNull());
}

TEST_F(PipeWireStreamTest, APictureThatCameWhileTheEngineWasBusy_StillComes_AfterTheQueuedOnes)
{
    // A compositor sends a buffer only when something changed: when the
    // animation stops, the last buffer is the screen until the user stops.
    TestScreenProducer producer(*s_daemon, {TestScreenProducer::Format::bgrx, {320, 200}, 0, std::nullopt});
    auto received = std::make_shared<Received>();
    auto stream = open(producer, QRectF(150, 50, 40, 20), 320, received);
    ASSERT_TRUE(pushUntilReceived(producer, splitPicture({320, 200}, 160), *received, 1));
    waitUntil([] { return false; }, 200);
    queue->drain();
    const size_t before = received->count();

    received->busy = true;
    const auto shade = [](int i) { return qRgb(0, 0, 40 + 10 * i); };
    constexpr int pictures = 20; // more than the queue holds
    for (int i = 0; i < pictures; ++i) {
        ASSERT_TRUE(waitUntil([&] { return producer.push(splitPicture({320, 200}, 160, shade(i))); }));
        waitUntil([] { return false; }, 30);
    }
    received->busy = false;
    ASSERT_TRUE(waitUntil([&] {
        const size_t n = received->count();
        return n > before && pixelAt(received->at(n - 1), 39, 0) == shade(pictures - 1);
    })) << "the last picture never came";
    queue->drain();
    // In order, and fewer than were sent: the queue's worth, then the newest.
    const size_t n = received->count();
    EXPECT_LT(n - before, size_t(pictures));
    for (size_t i = before + 1; i < n; ++i)
        EXPECT_LT(received->at(i - 1).presentationTime, received->at(i).presentationTime) << i;
}

TEST_F(PipeWireStreamTest, AProducerThatGoesAway_EndsTheStream)
{
    auto producer = std::make_unique<TestScreenProducer>(
        *s_daemon, TestScreenProducer::Options {TestScreenProducer::Format::bgrx, {320, 200}, 0, std::nullopt});
    auto received = std::make_shared<Received>();
    auto stream = open(*producer, QRectF(0, 0, 100, 100), 320, received);
    ASSERT_TRUE(pushUntilReceived(*producer, splitPicture({320, 200}, 160), *received, 1));
    producer.reset();
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(received->mutex);
        return received->ended.has_value();
    }));
    EXPECT_EQ(received->ended->domain(), QStringLiteral("Quillo.PipeWire"));
    EXPECT_TRUE(received->ended->description().startsWith(QStringLiteral("The desktop stopped sharing the screen")));
    stream.reset(); // and it closes cleanly after that
}
