// The recording self-test modes as a script runs them: the built program with
// no screen, on the synthetic capture backend where a scene is needed, each
// outcome told by its printed line and its exit status.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    QString out;
    int status = -1;
};

Outcome run(const QString &option, const QMap<QString, QString> &settings)
{
    QTemporaryDir state;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QUILLO_CAPTURE_BACKEND"));
    env.remove(QStringLiteral("QUILLO_SYNTHETIC_FAULT"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
    for (auto it = settings.begin(); it != settings.end(); ++it)
        env.insert(it.key(), it.value());
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(QUILLO_PROGRAM), {option});
    if (!program.waitForFinished(60000) || program.exitStatus() != QProcess::NormalExit)
        return {};
    return {QString::fromUtf8(program.readAllStandardOutput()), program.exitCode()};
}

} // namespace

TEST(RecordModes, HeadlessRecording_ReportsEachOutcomeWithItsOwnStatus)
{
    const QString synthetic = QStringLiteral("QUILLO_CAPTURE_BACKEND");
    const QString fault = QStringLiteral("QUILLO_SYNTHETIC_FAULT");
    struct Case {
        QMap<QString, QString> settings;
        QString pattern;
        int status;
    } cases[] = {
        // No X display to read: no permission.
        {{}, "^NO_PERMISSION\n$", 2},
        {{{synthetic, "synthetic"}, {fault, "start"}},
            "^START_ERR Error Domain=Quillo.SyntheticCapture Code=\\d+ \".*\"\n$", 3},
        {{{synthetic, "synthetic"}, {fault, "nodisplay"}}, "^START_ERR Error Domain=Quillo.CaptureError Code=0 ", 3},
        // The stream ends by itself after five frames: those are the recording.
        {{{synthetic, "synthetic"}, {fault, "midstream"}}, "^FRAMES=5 EXPORT=true \\S", 0},
        {{{synthetic, "synthetic"}, {fault, "output"}}, "^START_ERR Error Domain=Quillo.SyntheticCapture ", 3},
        {{{synthetic, "synthetic"}, {fault, "stop"}}, "^FRAMES=([2-9]|\\d\\d+) EXPORT=true \\S", 0},
        {{{synthetic, "synthetic"}}, "^FRAMES=([2-9]|\\d\\d+) EXPORT=true \\S", 0},
    };
    for (const Case &c : cases) {
        const Outcome outcome = run(QStringLiteral("--selftest-record"), c.settings);
        EXPECT_TRUE(QRegularExpression(c.pattern).match(outcome.out).hasMatch())
            << c.pattern.toStdString() << " <- " << outcome.out.toStdString();
        EXPECT_EQ(outcome.status, c.status) << c.pattern.toStdString();
    }
}
