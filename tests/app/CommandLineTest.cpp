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

TEST(CommandLine, SelfTestOptionsPassTheParserUntouched)
{
    const QStringList selfTests = {"--selftest-export", "--selftest-record", "--selftest-ops", "--selftest-loop",
        "--selftest-qualitymatrix", "--selftest-close", "--selftest-stoprace", "--selftest-resizefield",
        "--selftest-resizesheet", "--selftest-resizekeys", "--selftest-zoom", "--selftest",
        // The prefix alone is still the family: the ordinary start, no error.
        "--selftestx"};
    for (const QString &option : selfTests) {
        const ParsedCommandLine parsed = CommandLine::parse({QStringLiteral("quillo"), option});
        EXPECT_EQ(parsed.action, ParsedCommandLine::Action::Run) << option.toStdString();
        EXPECT_FALSE(parsed.record.has_value());
    }
    // The export's base path is the self-test's, not a stray argument.
    EXPECT_EQ(CommandLine::parse(args({"--selftest-export", "/tmp/base"})).action, ParsedCommandLine::Action::Run);
    EXPECT_EQ(CommandLine::parse(args({"--selftest-export", "--help"})).action, ParsedCommandLine::Action::Run);
    EXPECT_EQ(CommandLine::parse(args({"--selftest-ops", "--bogus"})).action, ParsedCommandLine::Action::UsageError);
}

TEST(CommandLine, HelpVersionAndMistakesAreToldApart)
{
    using Action = ParsedCommandLine::Action;
    struct Row {
        QStringList arguments;
        Action action;
        const char *error; // a part of the message
    };
    const Row rows[] = {
        {args({}), Action::Run, ""},
        {args({"--help"}), Action::Help, ""},
        {args({"-h"}), Action::Help, ""},
        {args({"--version"}), Action::Version, ""},
        {args({"-v"}), Action::Version, ""},
        {args({"--bogus", "--help"}), Action::UsageError, "Unknown option 'bogus'"},
        {args({"--bogus"}), Action::UsageError, "Unknown option 'bogus'"},
        {args({"-x"}), Action::UsageError, "Unknown option 'x'"},
        {args({"picture.gif"}), Action::UsageError, "Unexpected argument 'picture.gif'"},
        // Qt's own options are QApplication's business.
        {args({"-platform", "offscreen", "-reverse"}), Action::Run, ""},
        {args({"--style=Fusion"}), Action::Run, ""},
        {args({"--output", "a.gif"}), Action::UsageError, "--output only applies to --record"},
        {args({"--record", "10x10+0+0", "--output", "a.gif"}), Action::UsageError, "needs --duration"},
        {args({"--record", "10x10+0+0", "--duration", "2"}), Action::UsageError, "needs --output"},
        {args({"--record", "10x10", "--duration", "2", "--output", "a.gif"}), Action::UsageError, "WIDTHxHEIGHT+X+Y"},
        {args({"--record", "0x10+0+0", "--duration", "2", "--output", "a.gif"}), Action::UsageError, "WIDTHxHEIGHT"},
        {args({"--record", "10x10+-5+0", "--duration", "2", "--output", "a.gif"}), Action::UsageError, "WIDTHxHEIGHT"},
        {args({"--record", "10x10+0+0", "--duration", "0", "--output", "a.gif"}), Action::UsageError, "--duration"},
        {args({"--record", "10x10+0+0", "--duration", "nan", "--output", "a.gif"}), Action::UsageError, "--duration"},
        {args({"--record", "10x10+0+0", "--duration", "2", "--output", "a.png"}), Action::UsageError, ".gif or .mp4"},
        {args({"--record", "10x10+0+0", "--duration", "2", "--output", "a.gif", "--fps", "61"}), Action::UsageError,
            "--fps"},
        {args({"--record", "10x10+0+0", "--duration", "2", "--output", "a.gif", "--fps", "2.5"}), Action::UsageError,
            "--fps"},
        {args({"--record", "10x10+0+0", "--duration", "2", "--output", "a.gif", "--encoder", "imageIO"}),
            Action::UsageError, "builtin, ffmpeg or gifski"},
        {args({"--record", "10x10+0+0", "--duration", "2", "--output", "a.gif", "--quality", "High"}),
            Action::UsageError, "low, medium, high or max"},
        {args({"--record", "10x10+0+0", "--duration", "2", "--output", "a.gif", "--loop", "-1"}), Action::UsageError,
            "--loop"},
        {args({"--record", "10x10+0+0", "--duration", "2", "--output", "a.gif", "--delay", "-1"}), Action::UsageError,
            "--delay"},
    };
    for (const Row &row : rows) {
        const ParsedCommandLine parsed = CommandLine::parse(row.arguments);
        EXPECT_EQ(parsed.action, row.action) << row.arguments.join(' ').toStdString();
        EXPECT_TRUE(parsed.error.contains(QString::fromUtf8(row.error)))
            << row.arguments.join(' ').toStdString() << " -> " << parsed.error.toStdString();
    }
}

TEST(CommandLine, RecordReadsEveryValue)
{
    const ParsedCommandLine full
        = CommandLine::parse(args({"--record", "320x200+40+60", "--duration", "2.5", "--output", "/tmp/Clip.MP4",
            "--fps", "30", "--encoder", "builtin", "--quality", "max", "--loop", "3", "--delay", "0.5"}));
    ASSERT_EQ(full.action, ParsedCommandLine::Action::Run);
    ASSERT_TRUE(full.record);
    const RecordRequest &r = *full.record;
    EXPECT_EQ(r.region, QRect(40, 60, 320, 200));
    EXPECT_DOUBLE_EQ(r.durationSeconds, 2.5);
    EXPECT_EQ(r.output, QStringLiteral("/tmp/Clip.MP4"));
    EXPECT_TRUE(r.mp4);
    EXPECT_EQ(r.fps, 30);
    EXPECT_EQ(r.encoder, GifEncoder::imageIO);
    EXPECT_EQ(r.quality, GifQuality::max);
    EXPECT_EQ(r.loopCount, 3);
    EXPECT_DOUBLE_EQ(r.delaySeconds, 0.5);

    const ParsedCommandLine plain
        = CommandLine::parse(args({"--record=8x8+0+0", "--duration=1", "--output=out.gif", "--encoder=gifski"}));
    ASSERT_TRUE(plain.record);
    EXPECT_FALSE(plain.record->mp4);
    EXPECT_EQ(plain.record->fps, 15);
    EXPECT_EQ(plain.record->quality, GifQuality::high);
    EXPECT_EQ(plain.record->encoder, GifEncoder::gifski);
    EXPECT_EQ(plain.record->loopCount, 0);
    EXPECT_EQ(plain.record->delaySeconds, 0);
}
