#include "ExportTestSupport.h"

#include "export/ExportJob.h"
#include "export/FrameStaging.h"
#include "export/GifExporter.h"
#include "export/OutputCheck.h"
#include "export/ToolProgress.h"
#include "export/Tools.h"
#include "support/SmallDisk.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// What an export does to the user's files when things go wrong: the old file
// stays exactly as it was, a tool's word is checked, nothing is left behind,
// and no tool outlives its export.

namespace {

enum class Path { builtIn, ffmpeg, gifski, mp4 };

const char *name(Path path)
{
    switch (path) {
    case Path::builtIn:
        return "built-in";
    case Path::ffmpeg:
        return "ffmpeg";
    case Path::gifski:
        return "gifski";
    case Path::mp4:
        return "mp4";
    }
    return "";
}

ExportResult exportBy(Path path, const GifProject &project, const QString &destination, ExportJob *job = nullptr)
{
    switch (path) {
    case Path::builtIn:
        return GifExporter::exportGif(project, destination, {GifEncoder::imageIO, GifQuality::high, 0}, job);
    case Path::ffmpeg:
        return GifExporter::exportGif(project, destination, {GifEncoder::ffmpeg, GifQuality::high, 0}, job);
    case Path::gifski:
        return GifExporter::exportGif(project, destination, {GifEncoder::gifski, GifQuality::high, 0}, job);
    case Path::mp4:
        return GifExporter::exportMP4(project, destination, GifQuality::high, job);
    }
    return {};
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

bool processExists(pid_t pid)
{
    return ::kill(pid, 0) == 0;
}

} // namespace

TEST(SafeExport, AToolThatFailsOrLiesLeavesTheOldFileAsItWas)
{
    struct Case {
        Path path;
        const char *stubOutput; // what the stand-in leaves: "none", "stub" (8 bytes), or "" for a real file
        const char *failAt;
        const char *message;
    };
    const Case cases[] = {
        {Path::ffmpeg, "", "2", "ffmpeg gif failed: exit status 3"},
        {Path::ffmpeg, "none", "0", "ffmpeg gif failed: the file it wrote is empty."},
        {Path::ffmpeg, "stub", "0", "ffmpeg gif failed: the file it wrote is not a complete GIF."},
        {Path::gifski, "", "1", "gifski failed: exit status 3"},
        {Path::gifski, "none", "0", "gifski failed: the file it wrote is empty."},
        {Path::gifski, "stub", "0", "gifski failed: the file it wrote is not a complete GIF."},
        {Path::mp4, "", "1", "ffmpeg mp4 failed: exit status 3"},
        {Path::mp4, "stub", "0", "ffmpeg mp4 failed: the file it wrote is not an MP4 video."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(name(c.path)) + " " + c.stubOutput + " " + c.failAt);
        const bool writesNothing = QByteArray(c.stubOutput) == "none";
        const StubTools tools({QStringLiteral("ffmpeg"), QStringLiteral("gifski")}, writesNothing ? 0 : 3);
        QTemporaryDir out;
        const QString destination = out.filePath(c.path == Path::mp4 ? "old.mp4" : "old.gif");
        writeFile(destination, "the user's previous export");
        writeFile(out.filePath("stub"), "8 bytes!");
        const EnvOverride stubGif("QUILLO_STUB_GIF",
            QByteArray(c.stubOutput) == "stub" ? std::optional(out.filePath("stub").toLocal8Bit()) : std::nullopt);
        const EnvOverride stubMp4("QUILLO_STUB_MP4",
            QByteArray(c.stubOutput) == "stub" ? out.filePath("stub").toLocal8Bit() : qgetenv("QUILLO_STUB_MP4"));
        const EnvOverride fail("QUILLO_STUB_FAIL_AT", QByteArray(c.failAt));
        const ExportResult result = exportBy(c.path, *solidProject(3, 4, 4, Qt::red, 60), destination);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, QString::fromUtf8(c.message));
        EXPECT_EQ(contents(destination), QByteArray("the user's previous export"));
        EXPECT_EQ(entries(out.path()), (QStringList {QFileInfo(destination).fileName(), "stub"}));
    }
}

TEST(SafeExport, DestinationsThatAreNotRegularFilesAreRefusedBeforeAnythingRuns)
{
    const StubTools tools({QStringLiteral("ffmpeg"), QStringLiteral("gifski")}, 2);
    QTemporaryDir out;
    const QString fifo = out.filePath("pipe.gif");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QDir(out.path()).mkdir("folder.gif"));
    struct Case {
        QString destination;
        QString reason;
    };
    const Case cases[] = {
        {fifo, QStringLiteral("\u201cpipe.gif\u201d is not a regular file.")},
        {out.filePath("folder.gif"), QStringLiteral("\u201cfolder.gif\u201d is a folder.")},
        {out.filePath("missing/x.gif"),
            QStringLiteral("The folder \u201c%1\u201d does not exist.").arg(out.filePath("missing"))},
    };
    for (const Case &c : cases) {
        for (const Path path : {Path::builtIn, Path::ffmpeg, Path::gifski, Path::mp4}) {
            SCOPED_TRACE(c.destination.toStdString() + " " + name(path));
            const ExportResult result = exportBy(path, *solidProject(2, 4, 4, Qt::red, 60), c.destination);
            EXPECT_FALSE(result.ok);
            EXPECT_EQ(result.message,
                QStringLiteral("Could not create %1 file. ").arg(path == Path::mp4 ? "MP4" : "GIF") + c.reason);
        }
    }
    EXPECT_TRUE(tools.runs().isEmpty());
    EXPECT_EQ(entries(out.path()), (QStringList {"folder.gif", "pipe.gif"}));
}

TEST(SafeExport, ALinkAtTheDestinationIsReplacedNeverFollowed)
{
    QTemporaryDir out;
    const QString target = out.filePath("precious.txt");
    writeFile(target, "not to be overwritten");
    const QString link = out.filePath("quillo-loop0.gif");
    ASSERT_TRUE(QFile::link(target, link));
    const ExportResult result = exportBy(Path::builtIn, *solidProject(2, 4, 4, Qt::red, 60), link);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    EXPECT_EQ(contents(target), QByteArray("not to be overwritten"));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_EQ(OutputCheck::gifImageCount(link), 2);
}

TEST(SafeExport, NewFilesGetTheUsualModeAndReplacedOnesKeepTheirs)
{
    QTemporaryDir out;
    const mode_t old = ::umask(022);
    const QString fresh = out.filePath("fresh.gif");
    ASSERT_TRUE(exportBy(Path::builtIn, *solidProject(2, 4, 4, Qt::red, 60), fresh).ok);
    const QString kept = out.filePath("private.gif");
    writeFile(kept, "old");
    ::chmod(QFile::encodeName(kept).constData(), 0640);
    ASSERT_TRUE(exportBy(Path::builtIn, *solidProject(2, 4, 4, Qt::red, 60), kept).ok);
    ::umask(old);
    struct stat info { };
    ASSERT_EQ(::stat(QFile::encodeName(fresh).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    ASSERT_EQ(::stat(QFile::encodeName(kept).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(SafeExport, CancelStopsTheToolAndItsChildrenAndKeepsTheOldFile)
{
    for (const Path path : {Path::ffmpeg, Path::gifski, Path::mp4, Path::builtIn}) {
        SCOPED_TRACE(name(path));
        const StubTools tools({QStringLiteral("ffmpeg"), QStringLiteral("gifski")}, 40);
        const EnvOverride slow("QUILLO_STUB_SLEEP", "30");
        QTemporaryDir out;
        const QString destination = out.filePath(path == Path::mp4 ? "v.mp4" : "v.gif");
        writeFile(destination, "before");
        ExportJob job;
        ExportResult result;
        QElapsedTimer clock;
        std::thread exporter(
            [&] { result = exportBy(path, *solidProject(40, 320, 200, Qt::red, 60), destination, &job); });
        // Once the stand-in runs (or, built in, right away), cancel.
        const QString sleeper = tools.logPath() + QStringLiteral(".sleeper");
        QDeadlineTimer patience(10000);
        while (path != Path::builtIn && !QFileInfo::exists(sleeper) && !patience.hasExpired())
            QThread::msleep(20);
        clock.start();
        job.cancel();
        exporter.join();
        EXPECT_LT(clock.elapsed(), 1500);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, QStringLiteral("Export cancelled."));
        EXPECT_EQ(contents(destination), QByteArray("before"));
        EXPECT_EQ(entries(out.path()), QStringList {QFileInfo(destination).fileName()});
        if (path != Path::builtIn) {
            const pid_t child = pid_t(contents(sleeper).trimmed().toInt());
            ASSERT_GT(child, 0);
            QDeadlineTimer gone(2000);
            while (processExists(child) && !gone.hasExpired())
                QThread::msleep(20);
            EXPECT_FALSE(processExists(child)) << "the tool's own child outlived the export";
        }
    }
}

TEST(SafeExport, AFailureAlwaysSaysWhy)
{
    QTemporaryDir dir;
    struct Case {
        QString script;
        QString reason;
    };
    const Case cases[] = {
        {QStringLiteral("exit 3"), QStringLiteral("exit status 3")},
        {QStringLiteral("kill -9 $$"), QStringLiteral("killed by signal 9 (Killed)")},
        {QStringLiteral("printf 'bad \\377 bytes' >&2; exit 1"), QStringLiteral("bad \uFFFD bytes")},
        {QStringLiteral("printf 'the reason\\n' >&2; exit 1"), QStringLiteral("the reason")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script.toStdString());
        const Tools::RunResult run = Tools::run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), c.script});
        EXPECT_NE(run.status, 0);
        EXPECT_EQ(Tools::failureReason(run), c.reason);
    }
}

TEST(SafeExport, StagingIsPrivateAndWhatADeadProgramLeftIsRemoved)
{
    QTemporaryDir temp;
    const EnvOverride tmp("TMPDIR", temp.path().toLocal8Bit());
    // Left by a program that died: a lock nobody holds.
    ASSERT_TRUE(QDir(temp.path()).mkpath("quillo-dead01"));
    writeFile(temp.filePath("quillo-dead01/.lock"), "");
    writeFile(temp.filePath("quillo-dead01/frame00000.png"), "pixels");
    // Held by an export that still runs.
    ASSERT_TRUE(QDir(temp.path()).mkpath("quillo-alive1"));
    writeFile(temp.filePath("quillo-alive1/.lock"), "");
    const int held = ::open(QFile::encodeName(temp.filePath("quillo-alive1/.lock")).constData(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    // Just made by another export, before its lock: too young to judge.
    ASSERT_TRUE(QDir(temp.path()).mkpath("quillo-young1"));
    // Not ours to touch.
    writeFile(temp.filePath("quillo-loop0.gif"), "a file");

    {
        const std::optional<GifExporter::FrameDir> staged
            = GifExporter::makeFrameDir(*solidProject(2, 4, 4, Qt::red, 60));
        ASSERT_TRUE(staged);
        struct stat info { };
        ASSERT_EQ(::stat(QFile::encodeName(staged->dir()).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        EXPECT_FALSE(QFileInfo::exists(temp.filePath("quillo-dead01")));
        EXPECT_TRUE(QFileInfo::exists(temp.filePath("quillo-alive1")));
        EXPECT_TRUE(QFileInfo::exists(temp.filePath("quillo-young1")));
        EXPECT_TRUE(QFileInfo::exists(temp.filePath("quillo-loop0.gif")));
    }
    ::close(held);
    GifExporter::removeLeftoverStaging();
    EXPECT_EQ(entries(temp.path()), (QStringList {"quillo-loop0.gif", "quillo-young1"}));
}

TEST(SafeExport, OnlyCompleteFilesPassTheCheck)
{
    QTemporaryDir dir;
    const GifProjectRef project = solidProject(3, 8, 8, Qt::red, 60);
    ASSERT_TRUE(exportBy(Path::builtIn, *project, dir.filePath("good.gif")).ok);
    const QByteArray gif = contents(dir.filePath("good.gif"));
    writeFile(dir.filePath("half.gif"), gif.left(gif.size() / 2));
    writeFile(dir.filePath("empty.gif"), "");
    writeFile(dir.filePath("mp4.mp4"), minimalMp4());
    writeFile(dir.filePath("cut.mp4"), minimalMp4().left(20));
    writeFile(dir.filePath("junk.mp4"), QByteArray(64, 'x'));
    struct Case {
        const char *file;
        QString gifProblem;
        QString mp4Problem;
    };
    const Case cases[] = {
        {"good.gif", "", "the file it wrote is not an MP4 video"},
        {"half.gif", "the file it wrote is not a complete GIF", "the file it wrote is not an MP4 video"},
        {"empty.gif", "the file it wrote is empty", "the file it wrote is empty"},
        {"missing.gif", "it wrote no file", "it wrote no file"},
        {"mp4.mp4", "the file it wrote is not a complete GIF", ""},
        {"cut.mp4", "the file it wrote is not a complete GIF", "the file it wrote is not a complete MP4 video"},
        {"junk.mp4", "the file it wrote is not a complete GIF", "the file it wrote is not an MP4 video"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(OutputCheck::gifProblem(dir.filePath(c.file), 3, false), c.gifProblem);
        EXPECT_EQ(OutputCheck::mp4Problem(dir.filePath(c.file)), c.mp4Problem);
    }
    EXPECT_EQ(OutputCheck::gifProblem(dir.filePath("good.gif"), 4, false),
        QStringLiteral("the GIF it wrote holds 3 of 4 frames"));
    EXPECT_EQ(OutputCheck::gifProblem(dir.filePath("good.gif"), 40, true), QString());
}

TEST(SafeExportReal, AFullDiskLeavesTheOldFileByteIdentical)
{
    const EnvOverride dirs("QUILLO_TOOL_DIRS", std::nullopt);
    if (!Tools::ffmpeg() || !Tools::gifski())
        GTEST_SKIP() << "ffmpeg and gifski are needed";
    const SmallDisk mountPoint(QStringLiteral("256k"));
    if (!mountPoint.mounted())
        GTEST_SKIP() << "a small tmpfs cannot be mounted here (needs root)";

    // Noise does not compress: the new file cannot fit.
    GifFrameList frames;
    uint32_t seed = 1;
    for (int i = 0; i < 12; ++i) {
        QImage image(160, 120, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                image.setPixel(x, y, qRgb(int(seed >> 24), int(seed >> 16) & 255, int(seed >> 8) & 255));
            }
        frames.push_back(std::make_shared<GifFrame>(image, 60));
    }
    const GifProject project(std::move(frames), 15);
    QByteArray old(120 * 1024, '\0');
    for (int i = 0; i < old.size(); ++i)
        old[i] = char(i * 7);
    for (const Path path : {Path::builtIn, Path::ffmpeg, Path::gifski, Path::mp4}) {
        SCOPED_TRACE(name(path));
        const QString destination = mountPoint.path() + (path == Path::mp4 ? "/old.mp4" : "/old.gif");
        writeFile(destination, old);
        const ExportResult result = exportBy(path, project, destination);
        EXPECT_FALSE(result.ok) << result.message.toStdString();
        EXPECT_EQ(contents(destination), old);
        EXPECT_EQ(entries(mountPoint.path()), QStringList {QFileInfo(destination).fileName()});
        QFile::remove(destination);
    }
}

TEST(SafeExportReal, FfmpegWritesAGifWhateverTheNamesAndMp4PadsOddSizes)
{
    const EnvOverride dirs("QUILLO_TOOL_DIRS", std::nullopt);
    if (!Tools::ffmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    QTemporaryDir temp;
    QTemporaryDir out;
    const QString oddTemp = temp.filePath("tmp%d %05d");
    ASSERT_TRUE(QDir().mkpath(oddTemp));
    const EnvOverride tmp("TMPDIR", oddTemp.toLocal8Bit());
    const QString destination = out.filePath("clip.image");
    const ExportResult gif = exportBy(Path::ffmpeg, *solidProject(3, 6, 4, Qt::red, 60), destination);
    ASSERT_TRUE(gif.ok) << gif.message.toStdString();
    EXPECT_EQ(OutputCheck::gifImageCount(destination), 3);

    for (const QSize size : {QSize(321, 201), QSize(1, 7)}) {
        const QString video = out.filePath(QStringLiteral("v%1.mp4").arg(size.width()));
        const ExportResult mp4 = exportBy(Path::mp4, *solidProject(2, size.width(), size.height(), Qt::red, 60), video);
        ASSERT_TRUE(mp4.ok) << mp4.message.toStdString();
        const ToolOutput probe = runChecker(QStringLiteral("ffprobe"),
            {"-v", "error", "-show_entries", "stream=width,height", "-of", "csv=p=0", video});
        EXPECT_EQ(probe.out.trimmed(),
            QStringLiteral("%1,%2").arg(size.width() + size.width() % 2).arg(size.height() + size.height() % 2));
    }
    EXPECT_TRUE(entries(oddTemp).isEmpty());
}

TEST(ExportProgress, ComesFromWhatTheToolsPrintEvenWhenLinesArriveInPieces)
{
    std::vector<int> seen;
    ExportJob job;
    job.onProgress = [&](double share) { seen.push_back(int(std::lround(share * 100))); };
    const auto ffmpeg = ToolProgress::reader(&job, ToolProgress::Tool::ffmpeg, 10, 0.5, 1.0);
    ffmpeg("frame=2\nfps=0.0\nprogress=continue\nfra");
    ffmpeg("me=6\nprogress=continue\n");
    ffmpeg("frame=10\nprogress=end\n");
    EXPECT_EQ(seen, (std::vector<int> {60, 80, 100}));

    seen.clear();
    ExportJob other;
    other.onProgress = [&](double share) { seen.push_back(int(std::lround(share * 100))); };
    const auto gifski = ToolProgress::reader(&other, ToolProgress::Tool::gifski, 4, 0.0, 1.0);
    gifski("Frame 1 / 4  ###....\rFrame 2 / 4  ######..\r");
    gifski("Frame 4 / 4  ########\n");
    EXPECT_EQ(seen, (std::vector<int> {50, 100}));
    EXPECT_FALSE(ToolProgress::reader(nullptr, ToolProgress::Tool::ffmpeg, 10, 0, 1));
}
