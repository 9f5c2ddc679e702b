#include "export/Tools.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>

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

std::optional<QString> whichOnPath(const QString &name)
{
    QProcess process;
    process.setProgram(QStringLiteral("/usr/bin/env"));
    process.setArguments({QStringLiteral("which"), name});
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return std::nullopt;
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    const std::optional<QString> text = decodeUtf8(process.readAllStandardOutput());
    if (!text)
        return std::nullopt;
    const QString path = text->trimmed();
    if (path.isEmpty() || !isExecutableFile(path))
        return std::nullopt;
    return path;
}

} // namespace

namespace Tools {

QStringList searchDirs()
{
    return {QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/bin")};
}

std::optional<QString> locate(const QString &name)
{
    const bool overridden = qEnvironmentVariableIsSet("QUILLO_TOOL_DIRS");
    const QStringList dirs = overridden
        ? qEnvironmentVariable("QUILLO_TOOL_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts)
        : searchDirs();
    for (const QString &dir : dirs) {
        const QString candidate = dir + QLatin1Char('/') + name;
        if (isExecutableFile(candidate))
            return candidate;
    }
    if (overridden)
        return std::nullopt;
    return whichOnPath(name);
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

qsizetype commandLineBudget()
{
    // Linux allows a quarter of the stack limit, and never more than 6 MiB.
    constexpr qsizetype kernelCap = 6 * 1024 * 1024;
    constexpr qsizetype margin = 32 * 1024;
    const long reported = ::sysconf(_SC_ARG_MAX);
    qsizetype budget = reported > 0 ? std::min<qsizetype>(reported, kernelCap) : 128 * 1024;
    for (char **entry = environ; entry && *entry; ++entry)
        budget -= qsizetype(std::strlen(*entry)) + 1 + qsizetype(sizeof(char *));
    return std::max<qsizetype>(budget - margin, 0);
}

QString tail(const QString &text, qsizetype count)
{
    return text.size() <= count ? text : text.right(count);
}

} // namespace Tools
