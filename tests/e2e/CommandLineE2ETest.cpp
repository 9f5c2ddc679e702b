// The built program's command line as a shell user meets it. No display is
// given and Qt is left to its default platform: a program that tried to open
// a window here would fail instead of answering.
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

Outcome run(const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(QUILLO_PROGRAM), arguments);
    if (!program.waitForFinished(20000) || program.exitStatus() != QProcess::NormalExit) {
        program.kill();
        program.waitForFinished(5000);
        return {};
    }
    return {program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
        QString::fromUtf8(program.readAllStandardError())};
}

} // namespace

TEST(ProgramCommandLine, HelpAndVersionPrintAndExitBeforeAnythingOpens)
{
    const Outcome help = run({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: quillo "))) << help.out.toStdString();
    for (const char *option :
        {"--record", "--duration", "--output", "--fps", "--encoder", "--quality", "--loop", "--delay", "--version"})
        EXPECT_TRUE(help.out.contains(QString::fromLatin1(option))) << option;
    EXPECT_TRUE(help.err.isEmpty()) << help.err.toStdString();

    const Outcome version = run({QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^quillo \\d+\\.\\d+\\.\\d+\n$")).match(version.out).hasMatch())
        << version.out.toStdString();
    EXPECT_TRUE(version.err.isEmpty()) << version.err.toStdString();
}

TEST(ProgramCommandLine, MistakesSayWhatIsWrongAndShowTheUsageOnStandardError)
{
    struct Row {
        QStringList arguments;
        QString error;
    } rows[] = {
        {{"--bogus"}, "quillo: Unknown option 'bogus'."},
        {{"--selftest-ops", "--bogus"}, "quillo: Unknown option 'bogus'."},
        {{"--record", "320x200+40+40", "--duration", "2"}, "quillo: --record needs --output FILE"},
        {{"--record", "320x200", "--duration", "2", "--output", "/tmp/x.gif"}, "quillo: --record wants"},
    };
    for (const Row &row : rows) {
        const Outcome outcome = run(row.arguments);
        EXPECT_EQ(outcome.status, 2) << row.arguments.join(' ').toStdString();
        EXPECT_TRUE(outcome.out.isEmpty()) << outcome.out.toStdString();
        EXPECT_TRUE(outcome.err.startsWith(row.error)) << outcome.err.toStdString();
        EXPECT_TRUE(outcome.err.contains(QStringLiteral("\nUsage: quillo "))) << outcome.err.toStdString();
    }
}

TEST(ProgramCommandLine, RecordingWithoutADisplayFailsWithAReason)
{
    const Outcome outcome
        = run({QStringLiteral("--record"), QStringLiteral("320x200+0+0"), QStringLiteral("--duration"),
            QStringLiteral("1"), QStringLiteral("--output"), QStringLiteral("/tmp/none.gif")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.out.isEmpty());
    EXPECT_EQ(outcome.err, QStringLiteral("quillo: No X display to record: DISPLAY is not set.\n"));
}
