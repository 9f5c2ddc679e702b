#include "support/WaylandDesktop.h"

#include <QFile>
#include <QProcess>

#include <utility>

namespace {

// Undoes the shell quoting of bash's printf %q: '...' literally, \x as x.
QString unquote(const QByteArray &word)
{
    QByteArray out;
    bool inSingleQuotes = false;
    for (qsizetype i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if (c == '\'')
            inSingleQuotes = !inSingleQuotes;
        else if (c == '\\' && !inSingleQuotes && i + 1 < word.size())
            out += word[++i];
        else
            out += c;
    }
    return QString::fromUtf8(out);
}

} // namespace

std::optional<WaylandDesktop> WaylandDesktop::fromEnvironment()
{
    QFile file(qEnvironmentVariable("QUILLO_WAYLAND_ENV"));
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return WaylandDesktop(parseEnvFile(file.readAll()));
}

QProcessEnvironment WaylandDesktop::parseEnvFile(const QByteArray &text)
{
    QProcessEnvironment variables;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (!line.startsWith("export "))
            continue;
        const QByteArray assignment = line.mid(7);
        const qsizetype equals = assignment.indexOf('=');
        if (equals <= 0)
            continue;
        variables.insert(QString::fromUtf8(assignment.left(equals)), unquote(assignment.mid(equals + 1)));
    }
    return variables;
}

WaylandDesktop::WaylandDesktop(QProcessEnvironment variables)
    : m_variables(std::move(variables))
{
}

double WaylandDesktop::scale() const
{
    return m_variables.value("QUILLO_WAYLAND_SCALE", "1").toDouble();
}

QSize WaylandDesktop::outputSize() const
{
    const QStringList parts = m_variables.value("QUILLO_WAYLAND_OUTPUT_SIZE").split('x');
    return parts.size() == 2 ? QSize(parts[0].toInt(), parts[1].toInt()) : QSize();
}

QProcessEnvironment WaylandDesktop::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(m_variables);
    return environment;
}

std::optional<QByteArray> WaylandDesktop::run(const QString &program, const QStringList &arguments, int timeoutMs) const
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

QString WaylandDesktop::helper(const QString &name)
{
    return QStringLiteral(QUILLO_SOURCE_DIR "/tests/wayland/") + name;
}
