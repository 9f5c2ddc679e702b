// The export self-test modes of the built program, run as a user's script
// would, with the real tools and with a tool search that finds nothing.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

struct QuilloRun {
    int status = -1;
    QStringList lines;
};

// `toolDirs`: absent runs with the real tool search; a value (empty for "no
// tools") becomes QUILLO_TOOL_DIRS.
QuilloRun runQuillo(const QStringList &arguments, const std::optional<QString> &toolDirs = std::nullopt)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (toolDirs)
        env.insert(QStringLiteral("QUILLO_TOOL_DIRS"), *toolDirs);
    else
        env.remove(QStringLiteral("QUILLO_TOOL_DIRS"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUILLO_BINARY_DIR "/src/app/quillo"), arguments);
    if (!process.waitForFinished(120000))
        return {};
    QuilloRun run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return run;
}

QString checker(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool toolsInstalled()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("gifski")).isEmpty();
}

// Files the fixed-path modes write into /tmp, removed after each test.
class FixedPaths {
public:
    explicit FixedPaths(QStringList paths)
        : m_paths(std::move(paths))
    {
        clear();
    }
    ~FixedPaths() { clear(); }

private:
    void clear() const
    {
        for (const QString &path : m_paths)
            QFile::remove(path);
    }
    QStringList m_paths;
};

const QString BUILT_IN_MESSAGE = QStringLiteral(
    "Exported with built-in encoder (quality has limited effect on this path; per-frame timing and loop honored).");

void expectSelfTestGif(const QString &path)
{
    const QString info = checker(QStringLiteral("gifsicle"), {QStringLiteral("--info"), path});
    EXPECT_TRUE(info.contains(QLatin1String(" 30 images"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QLatin1String("logical screen 320x200")));
    EXPECT_TRUE(info.contains(QLatin1String("loop forever")));
    EXPECT_EQ(info.count(QLatin1String("delay 0.06s")), 30);
    EXPECT_EQ(info.count(QLatin1String("delay ")), 30);
}

} // namespace

TEST(ExportModes, ExportWritesBothGifsAndTheVideo)
{
    if (!toolsInstalled())
        GTEST_SKIP() << "ffmpeg and gifski are not both installed";
    QTemporaryDir dir;
    const QString base = dir.filePath("q");
    const QuilloRun run = runQuillo({QStringLiteral("--selftest-export"), base});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.lines,
        (QStringList {"FFMPEG: true Exported with ffmpeg (200 colors, High).", "IMAGEIO: true " + BUILT_IN_MESSAGE,
            "MP4: true Exported MP4 (CRF 20, High)."}));
    expectSelfTestGif(base + "-ffmpeg.gif");
    expectSelfTestGif(base + "-imageio.gif");
    // 30 frames of 60 ms: the last one is in the video twice (all but its
    // last millisecond, then that), and the video lasts 1.8 s.
    const QString probe = checker(QStringLiteral("ffprobe"),
        {"-v", "error", "-count_frames", "-show_entries",
            "stream=codec_name,pix_fmt,width,height,duration,nb_read_frames", "-of", "csv=p=0", base + "-out.mp4"});
    EXPECT_EQ(probe.trimmed(), QStringLiteral("h264,320,200,yuv420p,1.800000,31"));
}

TEST(ExportModes, ExportWithoutToolsFallsBackForTheGifAndFailsOnlyTheVideo)
{
    QTemporaryDir dir;
    const QString base = dir.filePath("bare");
    const QuilloRun run = runQuillo({QStringLiteral("--selftest-export"), base}, QString());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.lines,
        (QStringList {
            "FFMPEG: true " + BUILT_IN_MESSAGE, "IMAGEIO: true " + BUILT_IN_MESSAGE, "MP4: false ffmpeg not found."}));
    expectSelfTestGif(base + "-ffmpeg.gif");
    EXPECT_FALSE(QFileInfo::exists(base + "-out.mp4"));
}

TEST(ExportModes, ExportToAFolderThatDoesNotExistFailsWithStatusOne)
{
    QTemporaryDir dir;
    const QuilloRun run = runQuillo({QStringLiteral("--selftest-export"), dir.filePath("missing/q")}, QString());
    EXPECT_EQ(run.status, 1);
    const QString reason = QStringLiteral("Could not create GIF file. The folder \u201c%1\u201d does not exist.")
                               .arg(dir.filePath("missing"));
    EXPECT_EQ(run.lines,
        (QStringList {"FFMPEG: false " + reason, "IMAGEIO: false " + reason, "MP4: false ffmpeg not found."}));
}

TEST(ExportModes, LoopWritesForeverOncePlayedAndThreePlays)
{
    // With the tools (ffmpeg writes them) and without (the built-in encoder):
    // the same plays on either path.
    const FixedPaths files({"/tmp/quillo-loop0.gif", "/tmp/quillo-loop1.gif", "/tmp/quillo-loop3.gif"});
    for (const std::optional<QString> &toolDirs : {std::optional<QString>(), std::optional<QString>(QString())}) {
        if (!toolDirs && !toolsInstalled())
            continue;
        SCOPED_TRACE(toolDirs ? "without tools" : "with the tools");
        const QuilloRun run = runQuillo({QStringLiteral("--selftest-loop")}, toolDirs);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.lines,
            (QStringList {"loopCount=0 → /tmp/quillo-loop0.gif", "loopCount=1 → /tmp/quillo-loop1.gif",
                "loopCount=3 → /tmp/quillo-loop3.gif"}));
        const QString endless = checker(QStringLiteral("gifsicle"), {"--info", "/tmp/quillo-loop0.gif"});
        const QString once = checker(QStringLiteral("gifsicle"), {"--info", "/tmp/quillo-loop1.gif"});
        const QString three = checker(QStringLiteral("gifsicle"), {"--info", "/tmp/quillo-loop3.gif"});
        EXPECT_TRUE(endless.contains(QLatin1String("loop forever")));
        EXPECT_TRUE(once.contains(QLatin1String(" 30 images")));
        EXPECT_FALSE(once.contains(QLatin1String("loop forever")) || once.contains(QLatin1String("loop count")));
        EXPECT_TRUE(three.contains(QLatin1String("loop count 2")));
    }
}

// Both runs in one test: they write the same fixed files.
TEST(ExportModes, QualityMatrixCoversEveryAvailableEncoder)
{
    if (!toolsInstalled())
        GTEST_SKIP() << "ffmpeg and gifski are not both installed";
    QStringList paths;
    for (const char *encoder : {"ffmpeg", "gifski", "imageIO"})
        for (const char *quality : {"low", "medium", "high", "max"})
            paths << QStringLiteral("/tmp/quillo-%1-%2.gif").arg(QLatin1String(encoder), QLatin1String(quality));
    const FixedPaths files(paths);
    const QRegularExpression line(
        QStringLiteral("^(ffmpeg|gifski|imageIO) (low|medium|high|max): ok=true bytes=(\\d+)$"));

    const QuilloRun all = runQuillo({QStringLiteral("--selftest-qualitymatrix")});
    EXPECT_EQ(all.status, 0);
    ASSERT_EQ(all.lines.size(), 12);
    int i = 0;
    for (const char *quality : {"low", "medium", "high", "max"}) {
        for (const char *encoder : {"ffmpeg", "gifski", "imageIO"}) {
            const QRegularExpressionMatch m = line.match(all.lines[i++]);
            ASSERT_TRUE(m.hasMatch()) << all.lines[i - 1].toStdString();
            EXPECT_EQ(m.captured(1), QLatin1String(encoder));
            EXPECT_EQ(m.captured(2), QLatin1String(quality));
            EXPECT_EQ(m.captured(3).toLongLong(),
                QFileInfo(QStringLiteral("/tmp/quillo-%1-%2.gif").arg(QLatin1String(encoder), QLatin1String(quality)))
                    .size());
            EXPECT_GT(m.captured(3).toLongLong(), 0);
        }
    }

    const QuilloRun bare = runQuillo({QStringLiteral("--selftest-qualitymatrix")}, QString());
    EXPECT_EQ(bare.status, 0);
    ASSERT_EQ(bare.lines.size(), 4);
    const char *qualities[] = {"low", "medium", "high", "max"};
    for (int q = 0; q < 4; ++q) {
        const QRegularExpressionMatch m = line.match(bare.lines[q]);
        ASSERT_TRUE(m.hasMatch()) << bare.lines[q].toStdString();
        EXPECT_EQ(m.captured(1), QLatin1String("imageIO"));
        EXPECT_EQ(m.captured(2), QLatin1String(qualities[q]));
    }
}
