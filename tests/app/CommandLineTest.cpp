#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {
QStringList args(std::initializer_list<const char *> list)
{
    QStringList out {QStringLiteral("/usr/bin/quillo")};
    for (const char *a : list)
        out << QString::fromUtf8(a);
    return out;
}
} // namespace

TEST(CommandLine, FirstMatchingOptionInDispatchOrderWins)
{
    struct Row {
        QStringList arguments;
        LaunchMode mode;
    };
    const Row rows[] = {
        {args({}), LaunchMode::Interactive},
        {args({"--selftest-ops"}), LaunchMode::OpsSelfTest},
        {args({"--selftest-ops", "--selftest-record"}), LaunchMode::RecordSelfTest},
        {args({"--selftest-record", "--selftest-ops"}), LaunchMode::RecordSelfTest},
        {args({"--selftest", "--selftest-zoom"}), LaunchMode::Zoom},
        {args({"--selftest-zoom", "--selftest-export"}), LaunchMode::ExportSelfTest},
        {args({"--selftest-loop"}), LaunchMode::LoopSelfTest},
        {args({"--selftest-qualitymatrix"}), LaunchMode::QualityMatrix},
        {args({"--selftest-close"}), LaunchMode::CloseSelfTest},
        {args({"--selftest-stoprace"}), LaunchMode::StopRaceSelfTest},
        {args({"--selftest-resizefield"}), LaunchMode::ResizeField},
        {args({"--selftest-resizesheet"}), LaunchMode::ResizeSheet},
        {args({"--selftest-resizekeys"}), LaunchMode::ResizeKeys},
        {args({"--selftest"}), LaunchMode::EditorSelfTest},
        // Only exact options match; a prefix falls through to the ordinary start.
        {args({"--selftest-opsx"}), LaunchMode::Interactive},
        {args({"--selftests"}), LaunchMode::Interactive},
        {args({"selftest-ops"}), LaunchMode::Interactive},
    };
    for (const Row &row : rows)
        EXPECT_EQ(CommandLine::choose(row.arguments).mode, row.mode) << row.arguments.join(' ').toStdString();
}

TEST(CommandLine, ExportTakesTheNextArgumentAsItsBasePath)
{
    EXPECT_EQ(CommandLine::choose(args({"--selftest-export"})).exportBasePath, QStringLiteral("/tmp/quillo"));
    EXPECT_EQ(CommandLine::choose(args({"--selftest-export", "/tmp/q"})).exportBasePath, QStringLiteral("/tmp/q"));
    EXPECT_EQ(
        CommandLine::choose(args({"-x", "--selftest-export", "/a b/c"})).exportBasePath, QStringLiteral("/a b/c"));
}

TEST(CommandLine, IsSelfTestLooksAtThePrefixOfEveryArgument)
{
    EXPECT_FALSE(CommandLine::isSelfTest(args({})));
    EXPECT_FALSE(CommandLine::isSelfTest(args({"-selftest"})));
    EXPECT_TRUE(CommandLine::isSelfTest(args({"--selftest-opsx"})));
    EXPECT_TRUE(CommandLine::isSelfTest({QStringLiteral("--selftest-renamed-binary")}));
    // Such an argument is a self-test run with no mode: the ordinary start.
    EXPECT_EQ(CommandLine::choose(args({"--selftestx"})).mode, LaunchMode::Interactive);
}

TEST(CommandLine, NamesTheOptionOfEachMode)
{
    EXPECT_EQ(CommandLine::optionName(LaunchMode::QualityMatrix), QStringLiteral("--selftest-qualitymatrix"));
    EXPECT_EQ(CommandLine::optionName(LaunchMode::EditorSelfTest), QStringLiteral("--selftest"));
    EXPECT_TRUE(CommandLine::optionName(LaunchMode::Interactive).isEmpty());
}
