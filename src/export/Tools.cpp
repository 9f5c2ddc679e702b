#include "export/Tools.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>

#include <unistd.h>

namespace {

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

// Strict UTF-8: text that does not decode counts as no text at all.
std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<QString> firstExecutable(const QStringList &dirs, const QString &name)
{
    for (const QString &dir : dirs) {
        // An empty PATH entry means the current folder; a tool is never taken
        // from wherever the program happens to run.
        if (!QDir::isAbsolutePath(dir))
            continue;
        const QString candidate = dir + QLatin1Char('/') + name;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

} // namespace

namespace Tools {

QStringList searchDirs()
{
    return {
        QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/bin"), QDir::homePath() + QStringLiteral("/.local/bin")};
}

std::optional<QString> locate(const QString &name)
{
    if (qEnvironmentVariableIsSet("QUILLO_TOOL_DIRS"))
        return firstExecutable(
            qEnvironmentVariable("QUILLO_TOOL_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts), name);
    if (const auto onPath = firstExecutable(qEnvironmentVariable("PATH").split(QLatin1Char(':')), name))
        return onPath;
    return firstExecutable(searchDirs(), name);
}

std::optional<QString> ffmpeg()
{
    return locate(QStringLiteral("ffmpeg"));
}

std::optional<QString> gifski()
{
    return locate(QStringLiteral("gifski"));
}

RunResult run(const QString &path, const QStringList &arguments, const std::optional<QString> &workingDirectory)
{
    QProcess process;
    process.setProgram(path);
    process.setArguments(arguments);
    if (workingDirectory)
        process.setWorkingDirectory(*workingDirectory);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return {-1, process.errorString()};
    // QProcess keeps reading standard error into its buffer while it waits.
    process.waitForFinished(-1);
    RunResult result;
    result.status = process.exitCode();
    // A child killed by a signal must never read as success.
    if (process.exitStatus() == QProcess::CrashExit && result.status == 0)
        result.status = 1;
    result.standardError = decodeUtf8(process.readAllStandardError()).value_or(QString());
    return result;
}

QString tail(const QString &text, qsizetype count)
{
    return text.size() <= count ? text : text.right(count);
}

} // namespace Tools
