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

#include <sys/resource.h>

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
        display = std::make_unique<X11TestDisplay>(screen(), X11TestDisplay::Desktop::bare);
        ASSERT_TRUE(display->isRunning()) << display->failure().toStdString();
        ASSERT_TRUE(scratch.isValid());
        animation = display->launch(QStringLiteral("ico"), {QStringLiteral("-geometry"), animationGeometry()});
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

    virtual QSize screen() const { return {800, 600}; }
    virtual QString animationGeometry() const { return QStringLiteral("400x300+0+0"); }

    // `addressSpace`: a limit on the program's address space, in bytes.
    void launch(const QStringList &arguments, rlim_t addressSpace = RLIM_INFINITY)
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
        if (addressSpace != RLIM_INFINITY) {
            program->setChildProcessModifier([addressSpace] {
                const rlimit limit {addressSpace, addressSpace};
                ::setrlimit(RLIMIT_AS, &limit);
            });
        }
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

namespace {

// A whole 1920 x 1080 screen of animation: every frame differs, 8.3 MB each.
class ScriptedRecordingFullScreenE2E : public ScriptedRecordingE2E {
protected:
    QSize screen() const override { return {1920, 1080}; }
    QString animationGeometry() const override { return QStringLiteral("1920x1080+0+0"); }
};

} // namespace

TEST_F(ScriptedRecordingFullScreenE2E, AnAddressSpaceLimit_EndsTheRecordingEarlyWithItsFramesWritten)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves far more address space than any limit this test sets";
#endif
    const QString output = scratch.filePath(QStringLiteral("limited.mp4"));
    // About 0.7 GB is the program itself; the rest holds 100-odd frames.
    launch({QStringLiteral("--record"), QStringLiteral("1920x1080+0+0"), QStringLiteral("--duration"),
               QStringLiteral("300"), QStringLiteral("--output"), output},
        rlim_t(2) << 30);
    // Far less than the 300 s asked: memory ends it, then the export runs.
    ASSERT_TRUE(program->waitForFinished(240000)) << "still running after 240 s";
    const QString out = QString::fromUtf8(program->readAllStandardOutput());
    const QString err = QString::fromUtf8(program->readAllStandardError());
    ASSERT_EQ(program->exitStatus(), QProcess::NormalExit) << err.toStdString();
    EXPECT_EQ(program->exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("quillo: The recording ended early."))) << err.toStdString();
    const auto recorded
        = QRegularExpression(QStringLiteral("^Recorded (\\d+) frames \\(1920x1080, ([0-9.]+) s\\)")).match(out);
    ASSERT_TRUE(recorded.hasMatch()) << out.toStdString();
    const int frames = recorded.captured(1).toInt();
    EXPECT_GE(frames, 20);
    EXPECT_LT(recorded.captured(2).toDouble(), 120.0);

    // The file holds every kept frame (and the last one once more, so that it
    // lasts its full delay).
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
            QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
            QStringLiteral("stream=nb_read_frames,width,height"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
            output});
    ASSERT_TRUE(probe.waitForFinished(60000));
    EXPECT_EQ(
        QString::fromUtf8(probe.readAllStandardOutput()).trimmed(), QStringLiteral("1920,1080,%1").arg(frames + 1));
}
