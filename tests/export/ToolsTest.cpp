#include "ExportTestSupport.h"

#include "export/Tools.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

void writeScript(const QString &path, const QByteArray &body, bool executable = true)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body);
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    file.setPermissions(permissions);
}

} // namespace

TEST(Tools, SearchesTheUsualLinuxFoldersInOrder)
{
    const EnvOverride home("HOME", "/home/someone");
    EXPECT_EQ(Tools::searchDirs(),
        (QStringList {
            QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/bin"), QStringLiteral("/home/someone/.local/bin")}));
}

TEST(Tools, Locate_TakesTheFirstExecutableAndSkipsFilesWithoutExecutePermission)
{
    QTemporaryDir first;
    QTemporaryDir second;
    QTemporaryDir third;
    writeScript(first.filePath("ffmpeg"), "exit 0\n", false);
    writeScript(second.filePath("ffmpeg"), "exit 0\n");
    writeScript(third.filePath("ffmpeg"), "exit 0\n");
    const EnvOverride dirs("QUILLO_TOOL_DIRS", (first.path() + ':' + second.path() + ':' + third.path()).toLocal8Bit());
    EXPECT_EQ(Tools::ffmpeg(), second.filePath("ffmpeg"));
    EXPECT_EQ(Tools::gifski(), std::nullopt);
}

TEST(Tools, Locate_FindsNothingWhenTheOverrideIsEmpty)
{
    const EnvOverride dirs("QUILLO_TOOL_DIRS", QByteArray());
    EXPECT_EQ(Tools::locate(QStringLiteral("sh")), std::nullopt);
    EXPECT_EQ(Tools::ffmpeg(), std::nullopt);
}

TEST(Tools, Locate_TakesPathFirstThenTheUsualFolders)
{
    QTemporaryDir onPath;
    QTemporaryDir later;
    QTemporaryDir home;
    const QString name = QStringLiteral("quillo-test-tool-%1").arg(QCoreApplication::applicationPid());
    writeScript(onPath.filePath(name), "exit 0\n");
    writeScript(later.filePath(name), "exit 0\n");
    const EnvOverride dirs("QUILLO_TOOL_DIRS", std::nullopt);
    const EnvOverride homeDir("HOME", home.path().toLocal8Bit());
    // An empty entry (the current folder) is never searched.
    const EnvOverride path("PATH", "::" + onPath.path().toLocal8Bit() + ':' + later.path().toLocal8Bit());
    EXPECT_EQ(Tools::locate(name), onPath.filePath(name));
    EXPECT_EQ(Tools::locate(name + QStringLiteral("-missing")), std::nullopt);

    // sh is in /usr/bin, one of the usual folders, even with an empty PATH.
    const EnvOverride emptyPath("PATH", QByteArray());
    EXPECT_EQ(Tools::locate(QStringLiteral("sh")), QStringLiteral("/usr/bin/sh"));

    // ~/.local/bin, where a user installs a tool for themselves.
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral(".local/bin")));
    writeScript(home.filePath(QStringLiteral(".local/bin/") + name), "exit 0\n");
    EXPECT_EQ(Tools::locate(name), home.filePath(QStringLiteral(".local/bin/") + name));
}

TEST(Tools, Run_ReturnsStatusAndStandardErrorOnly)
{
    QTemporaryDir dir;
    writeScript(dir.filePath("tool"), "echo to-stdout\nprintf 'to-stderr' >&2\nexit 7\n");
    const Tools::RunResult result = Tools::run(dir.filePath("tool"), {});
    EXPECT_EQ(result.status, 7);
    EXPECT_EQ(result.standardError, QStringLiteral("to-stderr"));

    writeScript(dir.filePath("quiet"), "echo only-stdout\n");
    const Tools::RunResult quiet = Tools::run(dir.filePath("quiet"), {});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_TRUE(quiet.standardError.isEmpty());
}

TEST(Tools, Run_ReportsALaunchFailureAsMinusOneWithADescription)
{
    const Tools::RunResult result = Tools::run(QStringLiteral("/nonexistent/quillo-tool"), {});
    EXPECT_EQ(result.status, -1);
    EXPECT_FALSE(result.standardError.isEmpty());
}

TEST(Tools, Run_ResolvesRelativeArgumentsInTheWorkingDirectory)
{
    QTemporaryDir dir;
    QFile list(dir.filePath("list.txt"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("staged");
    list.close();
    const Tools::RunResult result
        = Tools::run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("cat list.txt >&2")}, dir.path());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.standardError, QStringLiteral("staged"));
}

TEST(Tools, Run_CompletesWhenTheChildFloodsBothStreams)
{
    // 8 MB on each stream, far beyond any pipe buffer.
    const Tools::RunResult result = Tools::run(QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
            QStringLiteral("head -c 8000000 /dev/zero | tr '\\0' o; head -c 8000000 /dev/zero | tr '\\0' e >&2; "
                           "printf END >&2")});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.standardError.size(), 8000003);
    EXPECT_TRUE(result.standardError.endsWith(QStringLiteral("eEND")));
}

TEST(Tools, Run_KeepsStandardErrorThatIsNotUtf8ReadableWithReplacements)
{
    const Tools::RunResult result
        = Tools::run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("printf 'a\\377b' >&2; exit 1")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.standardError, QStringLiteral("a\uFFFDb"));
}

TEST(Tools, Tail_KeepsTheLast300Characters)
{
    const QString long1000 = QString(700, QLatin1Char('a')) + QString(300, QLatin1Char('z'));
    EXPECT_EQ(Tools::tail(long1000), QString(300, QLatin1Char('z')));
    const QString short20(20, QLatin1Char('s'));
    EXPECT_EQ(Tools::tail(short20), short20);
    EXPECT_EQ(Tools::tail(QString()), QString());
}
