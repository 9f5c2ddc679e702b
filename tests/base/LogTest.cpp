#include "base/Log.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <thread>

namespace {

class LogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static QTemporaryDir dir;
        qputenv("XDG_STATE_HOME", dir.path().toUtf8());
        s_expectedPath = dir.path() + QStringLiteral("/Quillo/Quillo.log");
    }

    static QByteArray contents()
    {
        Log::flush();
        QFile file(Log::path());
        if (!file.open(QIODevice::ReadOnly))
            return "<missing>";
        return file.readAll();
    }

    static inline QString s_expectedPath;
};

QtMessageHandler g_previous = nullptr;
QStringList g_systemLines;

void captureMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtInfoMsg)
        g_systemLines << message;
    else if (g_previous)
        g_previous(type, context, message);
}

} // namespace

TEST_F(LogTest, LivesInTheXdgStateFolder)
{
    EXPECT_EQ(Log::path(), s_expectedPath);
}

TEST_F(LogTest, ResetThenWritesLeavesExactlyThoseLinesInOrder)
{
    Log::write(QStringLiteral("before"));
    Log::reset();
    Log::write(QStringLiteral("START region=(1, 2)"));
    Log::write(QStringLiteral("type '435' in W → W=435"));
    Log::write(QStringLiteral("ends with a line feed\n"));
    EXPECT_EQ(contents(),
        QByteArray("START region=(1, 2)\n"
                   "type '435' in W \xE2\x86\x92 W=435\n"
                   "ends with a line feed\n\n"));
}

TEST_F(LogTest, WritesFromManyThreadsAllArrive)
{
    Log::reset();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i)
                Log::write(QStringLiteral("t%1 line %2").arg(t).arg(i));
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(contents().count('\n'), 200);
}

TEST_F(LogTest, ADeletedFileIsCreatedAgainByTheNextWrite)
{
    Log::write(QStringLiteral("old"));
    Log::flush();
    ASSERT_TRUE(QFile::remove(Log::path()));
    Log::write(QStringLiteral("only this"));
    EXPECT_EQ(contents(), QByteArray("only this\n"));

    ASSERT_TRUE(QFile::remove(Log::path()));
    Log::reset();
    EXPECT_EQ(contents(), QByteArray(""));
}

TEST_F(LogTest, SystemCopyCarriesThePrefixAndTheFileCopyDoesNot)
{
    g_systemLines.clear();
    g_previous = qInstallMessageHandler(captureMessages);
    Log::reset();
    Log::write(QStringLiteral("REC tapped; hasScreenRecording=true"));
    qInstallMessageHandler(g_previous);
    EXPECT_EQ(g_systemLines, QStringList {QStringLiteral("Quillo: REC tapped; hasScreenRecording=true")});
    EXPECT_EQ(contents(), QByteArray("REC tapped; hasScreenRecording=true\n"));
}
