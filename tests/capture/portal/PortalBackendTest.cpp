// The portal backend against a fake ScreenCast portal on a bus of the test's
// own: what it asks the portal, what it keeps, and how a recording through it
// starts, fails and ends.
#include "FakePortal.h"

#include "capture/CaptureEngine.h"
#include "capture/LogRecorder.h"
#include "capture/portal/PortalCaptureBackend.h"
#include "support/TestUtil.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

auto *const g_logs = ::testing::AddGlobalTestEnvironment(new LogRecorder);

QVariant savedToken()
{
    return QSettings(QStringLiteral("Quillo"), QStringLiteral("Quillo")).value(PortalCaptureBackend::restoreTokenKey);
}

class PortalBackend : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_config = new QTemporaryDir;
        qputenv("XDG_CONFIG_HOME", s_config->path().toUtf8());
        s_bus = new PrivateBus;
    }
    static void TearDownTestSuite()
    {
        delete s_bus;
        delete s_config;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_bus->isRunning()) << "dbus-daemon did not start";
        const QString id = QString::number(++s_connections);
        fake = std::make_unique<FakePortal>(s_bus->connect(QStringLiteral("fake") + id));
        client = s_bus->connect(QStringLiteral("client") + id);
        ASSERT_TRUE(client.isConnected());
        QSettings(QStringLiteral("Quillo"), QStringLiteral("Quillo")).remove(PortalCaptureBackend::restoreTokenKey);
        LogRecorder::clear();
        liveBefore = CaptureEngine::liveStreamCount();
    }

    void TearDown() override
    {
        // Let the backends' last calls reach the fake before it goes.
        waitUntil([] { return false; }, 100);
        fake.reset();
    }

    struct Started {
        bool called = false;
        std::optional<CaptureFailure> error;
    };
    std::shared_ptr<Started> start(const std::shared_ptr<CaptureEngine> &engine)
    {
        auto result = std::make_shared<Started>();
        engine->start(
            {100, 100, 240, 160}, {QString(), {0, 0, 1280, 720}, 1.0}, [result](std::optional<CaptureFailure> error) {
                result->called = true;
                result->error = std::move(error);
            });
        return result;
    }

    // The fake's stream never sends a picture, as a still screen on a
    // desktop that sends only changes: the start need not wait long for one.
    std::shared_ptr<PortalCaptureBackend> makeBackend() const
    {
        auto backend = std::make_shared<PortalCaptureBackend>(client);
        backend->setFirstPictureWait(50);
        return backend;
    }

    GifProjectRef stop(const std::shared_ptr<CaptureEngine> &engine)
    {
        bool done = false;
        GifProjectRef project;
        engine->stop([&](GifProjectRef p) {
            project = std::move(p);
            done = true;
        });
        EXPECT_TRUE(waitUntil([&] { return done; }));
        return project;
    }

    static inline QTemporaryDir *s_config = nullptr;
    static inline PrivateBus *s_bus = nullptr;
    static inline int s_connections = 0;
    std::unique_ptr<FakePortal> fake;
    QDBusConnection client {QString()};
    int64_t liveBefore = 0;
};

} // namespace

TEST_F(PortalBackend, FirstRecording_AsksForAMonitorWithTheCursor_ThenKeepsTheChoiceForTheNext)
{
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        fake->newRestoreToken = QStringLiteral("token-%1").arg(round);
        auto backend = makeBackend();
        EXPECT_FALSE(backend->canExcludeWindows());
        EXPECT_TRUE(backend->needsConsent());
        auto engine = std::make_shared<CaptureEngine>(backend);
        auto started = start(engine);
        ASSERT_TRUE(waitUntil([&] { return started->called; }));
        EXPECT_FALSE(started->error) << started->error->toString().toStdString();
        EXPECT_EQ(
            fake->calls.mid(0, 4), (QStringList {"CreateSession", "SelectSources", "Start", "OpenPipeWireRemote"}));

        const QVariantMap &o = fake->selectOptions;
        EXPECT_EQ(o.value("types").toUInt(), 1u); // a monitor
        EXPECT_EQ(o.value("cursor_mode").toUInt(), 2u); // drawn into the picture
        EXPECT_EQ(o.value("persist_mode").toUInt(), 2u);
        // The second session brings the first one's choice back; the first
        // had none to bring.
        EXPECT_EQ(o.value("restore_token").toString(), round == 1 ? QString() : QStringLiteral("token-1"));
        // Once its stream runs, the session's own token replaces the old one.
        EXPECT_EQ(savedToken(), QStringLiteral("token-%1").arg(round));
        EXPECT_TRUE(LogRecorder::lines().contains(QStringLiteral("display 42 1280x720; backend=portal")));
        EXPECT_TRUE(LogRecorder::lines().contains(
            QStringLiteral("exclude: none, the portal backend records every window (0 asked)")));
        EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore + 1);

        EXPECT_FALSE(stop(engine)); // the fake's stream sends nothing
        EXPECT_TRUE(waitUntil([&] { return fake->openSessions().isEmpty(); }));
        EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore);
        fake->calls.clear();
    }
}

TEST_F(PortalBackend, DialogCancelledOrRefused_FailsTheStart_WithNoSessionLeft_AndAsksAgainNextTime)
{
    struct Case {
        uint response;
        int64_t code;
        QString text;
    } cases[] = {
        {1, 1,
            "Screen sharing was cancelled, so nothing was recorded. Press REC again and choose the screen to share."},
        {2, 2, "The desktop's screen-sharing portal refused to share the screen. (response 2)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.response);
        QSettings(QStringLiteral("Quillo"), QStringLiteral("Quillo"))
            .setValue(PortalCaptureBackend::restoreTokenKey, QStringLiteral("old"));
        fake->startResponse = c.response;
        fake->calls.clear();
        auto engine = std::make_shared<CaptureEngine>(makeBackend());
        auto started = start(engine);
        ASSERT_TRUE(waitUntil([&] { return started->called; }));
        ASSERT_TRUE(started->error);
        EXPECT_EQ(started->error->domain(), QStringLiteral("Quillo.Portal"));
        EXPECT_EQ(started->error->code(), c.code);
        EXPECT_EQ(started->error->description().toStdString(), c.text.toStdString());
        EXPECT_TRUE(waitUntil([&] { return fake->openSessions().isEmpty(); }));
        EXPECT_FALSE(fake->calls.contains(QStringLiteral("OpenPipeWireRemote")));
        EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore);
        // The old token was used up by the attempt: the next one asks again.
        EXPECT_FALSE(savedToken().isValid());
        EXPECT_FALSE(stop(engine));
    }
}

TEST_F(PortalBackend, StopDuringTheDialog_ClosesItAndTheSession)
{
    fake->holdStart = true;
    auto engine = std::make_shared<CaptureEngine>(makeBackend());
    auto started = start(engine);
    ASSERT_TRUE(waitUntil([&] { return fake->calls.contains(QStringLiteral("Start")); }));
    EXPECT_FALSE(stop(engine));
    EXPECT_TRUE(waitUntil([&] { return started->called && fake->openSessions().isEmpty(); }));
    EXPECT_TRUE(fake->calls.contains(QStringLiteral("Close@request")));
    EXPECT_TRUE(fake->calls.contains(QStringLiteral("Close@session")));
    EXPECT_FALSE(started->error); // a stop that came first is no failure
    EXPECT_TRUE(LogRecorder::lines().contains(QStringLiteral("start: cancelled before launch — aborting")));
    // A late answer from the portal changes nothing.
    fake->release();
    waitUntil([] { return false; }, 100);
    EXPECT_FALSE(fake->calls.contains(QStringLiteral("OpenPipeWireRemote")));
    EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore);
}

TEST_F(PortalBackend, DesktopEndingTheSession_EndsTheRecording)
{
    auto engine = std::make_shared<CaptureEngine>(makeBackend());
    std::optional<CaptureFailure> ended;
    engine->onStreamEnded = [&](const CaptureFailure &f) { ended = f; };
    auto started = start(engine);
    ASSERT_TRUE(waitUntil([&] { return started->called; }));
    ASSERT_FALSE(started->error);
    fake->closeSessionFromDesktop();
    ASSERT_TRUE(waitUntil([&] { return ended.has_value(); }));
    EXPECT_EQ(ended->description(), QStringLiteral("The desktop stopped sharing the screen."));
    EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore);
    EXPECT_FALSE(stop(engine));
}

// A desktop may take seconds to send a new stream's first picture; the
// recording's time must not run before it. Without one, the start counts as
// made after the wait, or at once when Stop comes first.
TEST_F(PortalBackend, Start_WaitsForTheFirstPicture_UntilTheWaitEndsOrStopComes)
{
    struct Case {
        const char *name;
        bool stopEarly;
    } cases[] = {{"the wait ends", false}, {"Stop comes", true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto backend = std::make_shared<PortalCaptureBackend>(client);
        backend->setFirstPictureWait(1500);
        auto engine = std::make_shared<CaptureEngine>(backend);
        auto started = start(engine);
        ASSERT_TRUE(waitUntil([&] { return fake->calls.contains(QStringLiteral("OpenPipeWireRemote")); }));
        waitUntil([] { return false; }, 300);
        EXPECT_FALSE(started->called) << "answered before any picture came";
        if (c.stopEarly) {
            EXPECT_FALSE(stop(engine));
            EXPECT_TRUE(started->called);
        } else {
            EXPECT_TRUE(waitUntil([&] { return started->called; }, 5000));
            EXPECT_FALSE(stop(engine));
        }
        EXPECT_FALSE(started->error) << started->error->toString().toStdString();
        EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore);
        fake->calls.clear();
    }
}
