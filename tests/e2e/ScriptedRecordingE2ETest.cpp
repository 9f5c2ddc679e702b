// `quillo --record` on a private X server over an animated client (ico), the
// written GIF read back with gifsicle as any user would check it.
//
// The total duration is asserted on the ffmpeg path, whose per-frame delays
// are the recording's own.
#include "capture/X11TestDisplay.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

struct GifInfo {
    int images = 0;
    QSize screen;
    double totalSeconds = 0;
};

std::optional<GifInfo> readGif(const QString &path)
{
    QProcess gifsicle;
    gifsicle.start(QStringLiteral("gifsicle"), {QStringLiteral("--info"), path});
    if (!gifsicle.waitForFinished(30000) || gifsicle.exitCode() != 0)
        return std::nullopt;
    const QString info = QString::fromUtf8(gifsicle.readAllStandardOutput());
    GifInfo out;
    const auto images = QRegularExpression(QStringLiteral("(\\d+) images?")).match(info);
    const auto screen = QRegularExpression(QStringLiteral("logical screen (\\d+)x(\\d+)")).match(info);
    if (!images.hasMatch() || !screen.hasMatch())
        return std::nullopt;
    out.images = images.captured(1).toInt();
    out.screen = QSize(screen.captured(1).toInt(), screen.captured(2).toInt());
    auto delays = QRegularExpression(QStringLiteral("delay ([0-9.]+)s")).globalMatch(info);
    while (delays.hasNext())
        out.totalSeconds += delays.next().captured(1).toDouble();
    return out;
}

class ScriptedRecordingE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *tool : {"ico", "gifsicle", "ffmpeg"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        }
        display = std::make_unique<X11TestDisplay>(QSize(800, 600), X11TestDisplay::Desktop::bare);
        ASSERT_TRUE(display->isRunning()) << display->failure().toStdString();
        ASSERT_TRUE(scratch.isValid());
        animation
            = display->launch(QStringLiteral("ico"), {QStringLiteral("-geometry"), QStringLiteral("400x300+0+0")});
        ASSERT_TRUE(animation);
    }

    void TearDown() override
    {
        for (auto *process : {program.get(), animation.get()}) {
            if (process && process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    void launch(const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display->name());
        env.insert(QStringLiteral("XDG_STATE_HOME"), scratch.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch.filePath(QStringLiteral("config")));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("QUILLO_CAPTURE_BACKEND"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        program = std::make_unique<QProcess>();
        program->setProcessEnvironment(env);
        program->start(QStringLiteral(QUILLO_PROGRAM), arguments);
        ASSERT_TRUE(program->waitForStarted(10000));
    }

    QStringList recordArguments(const QString &output, const QString &seconds) const
    {
        return {QStringLiteral("--record"), QStringLiteral("320x200+40+40"), QStringLiteral("--duration"), seconds,
            QStringLiteral("--encoder"), QStringLiteral("ffmpeg"), QStringLiteral("--output"), output};
    }

    std::unique_ptr<X11TestDisplay> display;
    std::unique_ptr<QProcess> animation;
    std::unique_ptr<QProcess> program;
    QTemporaryDir scratch;
};

} // namespace

TEST_F(ScriptedRecordingE2E, RecordsTheRegionForTheAskedTime)
{
    const QString output = scratch.filePath(QStringLiteral("clip.gif"));
    launch(recordArguments(output, QStringLiteral("2")));
    ASSERT_TRUE(program->waitForFinished(60000));
    const QString out = QString::fromUtf8(program->readAllStandardOutput());
    EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program->exitCode(), 0) << program->readAllStandardError().toStdString();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^Recorded \\d+ frames \\(320x200, [0-9.]+ s\\) to ")).match(out).hasMatch())
        << out.toStdString();
    EXPECT_EQ(out.count(QLatin1Char('\n')), 1) << out.toStdString();

    const std::optional<GifInfo> gif = readGif(output);
    ASSERT_TRUE(gif);
    EXPECT_EQ(gif->screen, QSize(320, 200));
    // ico redraws many times a second: a frame for most of the 30 ticks.
    EXPECT_GE(gif->images, 10);
    EXPECT_NEAR(gif->totalSeconds, 2.0, 0.4);
}

TEST_F(ScriptedRecordingE2E, InterruptOrTerminateEndsTheRecordingAndStillWritesIt)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
        const QString output = scratch.filePath(QStringLiteral("short-%1.gif").arg(signal));
        QFile::remove(scratch.filePath(QStringLiteral("state/Quillo/Quillo.log")));
        launch(recordArguments(output, QStringLiteral("30")));
        // One second of recording: from the moment the stream runs (and the
        // program listens for the signal), however long the start took.
        QFile log(scratch.filePath(QStringLiteral("state/Quillo/Quillo.log")));
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            if (log.open(QIODevice::ReadOnly)) {
                const bool running = log.readAll().contains("START region=");
                log.close();
                if (running)
                    break;
            }
            QThread::msleep(20);
        }
        ASSERT_FALSE(deadline.hasExpired()) << "the recording did not start";
        QThread::msleep(1000);
        ::kill(pid_t(program->processId()), signal);
        ASSERT_TRUE(program->waitForFinished(30000));
        EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program->exitCode(), 0) << program->readAllStandardError().toStdString();

        const std::optional<GifInfo> gif = readGif(output);
        ASSERT_TRUE(gif);
        EXPECT_EQ(gif->screen, QSize(320, 200));
        EXPECT_GE(gif->images, 2);
        // About the second it ran, far below the 30 asked.
        EXPECT_NEAR(gif->totalSeconds, 1.0, 0.4);
    }
}

TEST_F(ScriptedRecordingE2E, ARegionOffTheScreenFailsWithAReasonAndWritesNothing)
{
    const QString output = scratch.filePath(QStringLiteral("none.gif"));
    launch({QStringLiteral("--record"), QStringLiteral("320x200+600+40"), QStringLiteral("--duration"),
        QStringLiteral("1"), QStringLiteral("--output"), output});
    ASSERT_TRUE(program->waitForFinished(30000));
    EXPECT_EQ(program->exitCode(), 1);
    const QString err = QString::fromUtf8(program->readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("quillo: The region 320x200+600+40 does not lie inside one screen")))
        << err.toStdString();
    EXPECT_TRUE(program->readAllStandardOutput().isEmpty());
    EXPECT_FALSE(QFile::exists(output));
}
