#include "app/Permissions.h"
#include "app/RecordSelfTests.h"
#include "app/WaylandNotice.h"
#include "capture/CaptureBackendFactory.h"

#include <gtest/gtest.h>

TEST(Permissions, OpenSettings_RunsTheFirstKnownSettingsProgramOnThePath)
{
    const auto finder = [](QStringList installed) {
        return [installed](const QString &name) {
            return installed.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
        };
    };
    EXPECT_EQ(Permissions::settingsProgram(finder({})), std::nullopt);
    EXPECT_EQ(Permissions::settingsProgram(finder({"xfce4-settings-manager"})),
        QStringLiteral("/usr/bin/xfce4-settings-manager"));
    EXPECT_EQ(Permissions::settingsProgram(finder({"systemsettings", "gnome-control-center"})),
        QStringLiteral("/usr/bin/gnome-control-center"));
    EXPECT_EQ(Permissions::deniedButtons, (QStringList {"Open Settings", "Cancel"}));
}

TEST(Permissions, TheAlertSpeaksOfThisDesktop)
{
    // Nothing of another system's signing and relaunch rules; what an X11 or
    // Wayland user can actually do.
    const QString all = Permissions::deniedTitle + QLatin1Char(' ') + Permissions::deniedText;
    for (const char *foreign : {"unsigned", "relaunch", "Switch it ON", "quit and reopen"})
        EXPECT_FALSE(all.contains(QString::fromLatin1(foreign), Qt::CaseInsensitive)) << foreign;
    for (const char *ours : {"X11", "Wayland", "xdg-desktop-portal", "REC again"})
        EXPECT_TRUE(all.contains(QString::fromLatin1(ours))) << ours;
}

TEST(Permissions, FollowTheChosenBackend_WithoutGrabbingTheScreenOnThePortalPath)
{
    const QByteArray previous = qgetenv("QUILLO_CAPTURE_BACKEND");
    const QByteArray display = qgetenv("DISPLAY");
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DISPLAY", ":65000"); // no server there
    qputenv("QUILLO_CAPTURE_BACKEND", "synthetic");
    EXPECT_TRUE(Permissions::hasScreenRecording());
    qputenv("QUILLO_CAPTURE_BACKEND", "x11");
    EXPECT_FALSE(Permissions::hasScreenRecording());
    // No session bus, so no portal: the portal path has no permission, and it
    // never tries the X display.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    EXPECT_FALSE(CaptureBackendFactory::canRecord(CaptureBackendFactory::Kind::portal));
    qputenv("DISPLAY", display);
    qputenv("QUILLO_CAPTURE_BACKEND", previous);
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
}

TEST(CaptureBackendFactory, ChoosesThePortal_OnlyInAWaylandSessionThatHasOne)
{
    using Kind = CaptureBackendFactory::Kind;
    struct Case {
        QString sessionType;
        QString waylandDisplay;
        QString forced;
        bool portal;
        Kind kind;
        bool asked; // whether the bus had to be asked
    } cases[] = {
        {"wayland", "wayland-0", "", true, Kind::portal, true},
        {"", "wayland-1", "", true, Kind::portal, true},
        {"wayland", "", "", false, Kind::x11, true},
        {"x11", "", "", true, Kind::x11, false},
        {"", "", "", true, Kind::x11, false},
        {"x11", "", "portal", false, Kind::portal, false},
        {"wayland", "wayland-0", "x11", true, Kind::x11, false},
        {"wayland", "wayland-0", "synthetic", true, Kind::synthetic, false},
        {"wayland", "wayland-0", "bogus", true, Kind::portal, true},
    };
    for (const Case &c : cases) {
        QProcessEnvironment env;
        if (!c.sessionType.isEmpty())
            env.insert("XDG_SESSION_TYPE", c.sessionType);
        if (!c.waylandDisplay.isEmpty())
            env.insert("WAYLAND_DISPLAY", c.waylandDisplay);
        if (!c.forced.isEmpty())
            env.insert("QUILLO_CAPTURE_BACKEND", c.forced);
        bool asked = false;
        const Kind kind = CaptureBackendFactory::choose(env, [&] {
            asked = true;
            return c.portal;
        });
        const std::string label = QString(c.sessionType + "/" + c.waylandDisplay + "/" + c.forced).toStdString();
        EXPECT_EQ(kind, c.kind) << label;
        EXPECT_EQ(asked, c.asked) << label;
        // The notice speaks only where X11 records a Wayland session.
        EXPECT_EQ(WaylandNotice::isNeeded(env, kind == Kind::x11),
            kind == Kind::x11 && CaptureBackendFactory::isWaylandSession(env))
            << label;
    }
    EXPECT_TRUE(WaylandNotice::text.contains(QStringLiteral("install xdg-desktop-portal")));
}

TEST(WaylandNotice, IsShownOnlyInAWaylandSession)
{
    struct Case {
        QString sessionType;
        QString waylandDisplay;
        bool wayland;
    } cases[] = {
        {"wayland", "", true},
        {"Wayland", "", true},
        {"", "wayland-0", true},
        {"x11", "", false},
        {"tty", "", false},
        {"", "", false},
    };
    for (const Case &c : cases) {
        QProcessEnvironment env;
        if (!c.sessionType.isEmpty())
            env.insert("XDG_SESSION_TYPE", c.sessionType);
        if (!c.waylandDisplay.isEmpty())
            env.insert("WAYLAND_DISPLAY", c.waylandDisplay);
        EXPECT_EQ(WaylandNotice::isWaylandSession(env), c.wayland)
            << c.sessionType.toStdString() << "/" << c.waylandDisplay.toStdString();
    }
}

TEST(RecordSelfTests, HeadlessRegionSits60PointsInFromTheTopLeft)
{
    EXPECT_EQ(RecordSelfTests::headlessRegion({0, 0, 1280, 1024}), (Rect {60, 804, 240, 160}));
    EXPECT_EQ(RecordSelfTests::headlessRegion({1280, -200, 1920, 1080}), (Rect {1340, 660, 240, 160}));
}

TEST(RecordSelfTests, StopRaceLine_FailsOnAnyStartLiveStreamOrHeldEngine)
{
    struct Case {
        RecordSelfTests::StopRaceOutcome outcome;
        QString line;
    } cases[] = {
        {{true, 0, 0, false}, "STOPRACE permission=true startCalls=0 liveStreams=0 engineLeaked=false → PASS"},
        {{false, 0, 0, false}, "STOPRACE permission=false startCalls=0 liveStreams=0 engineLeaked=false → PASS"},
        {{true, 1, 0, false}, "STOPRACE permission=true startCalls=1 liveStreams=0 engineLeaked=false → FAIL"},
        {{true, 0, 1, false}, "STOPRACE permission=true startCalls=0 liveStreams=1 engineLeaked=false → FAIL"},
        {{true, 0, 0, true}, "STOPRACE permission=true startCalls=0 liveStreams=0 engineLeaked=true → FAIL"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.outcome.line(), c.line);
        EXPECT_EQ(c.outcome.passed(), c.line.endsWith(QStringLiteral("PASS")));
    }
}
