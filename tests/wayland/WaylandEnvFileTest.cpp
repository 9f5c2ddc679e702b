#include "support/WaylandDesktop.h"

#include <QProcess>

#include <gtest/gtest.h>

// The start script writes its values with bash's printf %q: whatever that makes
// of a value must read back as the value.
TEST(WaylandEnvFile, ReadsBackWhatTheStartScriptWrites)
{
    const QStringList values = {
        "wayland-1",
        "unix:path=/tmp/quillo-wl.AbC123/bus",
        "/home/someone/build dir/wayland/sway",
        "it's",
        "",
        R"(back\slash)",
        "0e7bb2de-1c7a-4a5c-9f0e-2b6f5e9f3c11",
    };
    for (const QString &value : values) {
        QProcess bash;
        bash.start("bash", {"-c", R"(printf '# comment\nexport V=%q\nV2=ignored\n' "$1")", "-", value});
        ASSERT_TRUE(bash.waitForFinished());
        const QProcessEnvironment parsed = WaylandDesktop::parseEnvFile(bash.readAllStandardOutput());
        EXPECT_EQ(parsed.value("V", "<unset>"), value);
        EXPECT_EQ(parsed.keys(), QStringList {"V"});
    }
}

TEST(WaylandEnvFile, GivesScaleAndOutputSize)
{
    const WaylandDesktop desktop(WaylandDesktop::parseEnvFile("export QUILLO_WAYLAND_DESKTOP=sway\n"
                                                              "export QUILLO_WAYLAND_SCALE=1.5\n"
                                                              "export QUILLO_WAYLAND_OUTPUT_SIZE=1920x1080\n"));
    EXPECT_EQ(desktop.name(), "sway");
    EXPECT_DOUBLE_EQ(desktop.scale(), 1.5);
    EXPECT_EQ(desktop.outputSize(), QSize(1920, 1080));
    EXPECT_TRUE(desktop.restoreToken().isEmpty());
}
