#include "export/Tools.h"

#include "export/ExportJob.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <map>
#include <mutex>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && ::access(QFile::encodeName(path).constData(), X_OK) == 0;
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

// The children run() is waiting for, so that stopAllChildren() can reach
// them. Registered for exactly as long as run() owns the child.
class ChildGuard {
public:
    explicit ChildGuard(pid_t pid)
        : m_pid(pid)
    {
        std::lock_guard lock(s_mutex);
        s_children[m_pid] = false;
    }
    ~ChildGuard()
    {
        std::lock_guard lock(s_mutex);
        s_children.erase(m_pid);
    }
    ChildGuard(const ChildGuard &) = delete;
    ChildGuard &operator=(const ChildGuard &) = delete;

    pid_t pid() const { return m_pid; }
    bool stopRequested() const
    {
        std::lock_guard lock(s_mutex);
        const auto found = s_children.find(m_pid);
        return found != s_children.end() && found->second;
    }
    static void stopAll()
    {
        std::lock_guard lock(s_mutex);
        for (auto &[pid, stop] : s_children)
            stop = true;
    }

private:
    const pid_t m_pid;
    static inline std::mutex s_mutex;
    static inline std::map<pid_t, bool> s_children; // pid -> asked to stop
};

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

RunResult run(const QString &path, const QStringList &arguments, const std::optional<QString> &workingDirectory,
    const ExportJob *job, const std::function<void(const QByteArray &)> &onStandardOutput)
{
    QProcess process;
    process.setProgram(path);
    process.setArguments(arguments);
    if (workingDirectory)
        process.setWorkingDirectory(*workingDirectory);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!onStandardOutput)
        process.setStandardOutputFile(QProcess::nullDevice());
    process.setChildProcessModifier([] {
        // Between fork and exec: only async-signal-safe calls.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    process.start();
    if (!process.waitForStarted(-1))
        return {-1, 0, false, process.errorString()};
    const ChildGuard guard(pid_t(process.processId()));

    QByteArray standardError;
    auto collect = [&] {
        standardError += process.readAllStandardError();
        if (onStandardOutput) {
            const QByteArray piece = process.readAllStandardOutput();
            if (!piece.isEmpty())
                onStandardOutput(piece);
        }
    };
    bool cancelled = false;
    QDeadlineTimer killAt;
    // Short waits, so that a cancel is seen within a tenth of a second.
    while (!process.waitForFinished(100)) {
        collect();
        if (process.state() == QProcess::NotRunning)
            break;
        if (!cancelled && ((job && job->isCancelled()) || guard.stopRequested())) {
            cancelled = true;
            ::kill(-guard.pid(), SIGTERM);
            killAt = QDeadlineTimer(500);
        } else if (cancelled && killAt.hasExpired()) {
            ::kill(-guard.pid(), SIGKILL);
            killAt = QDeadlineTimer::Forever;
        }
    }
    collect();
    // Whatever the child left running in its group goes with it.
    ::kill(-guard.pid(), SIGKILL);

    RunResult result;
    result.cancelled = cancelled;
    result.status = process.exitCode();
    if (process.exitStatus() == QProcess::CrashExit) {
        // QProcess reports the signal as the exit code of a crashed child.
        result.signal = process.exitCode();
        if (result.status == 0)
            result.status = 1;
    }
    result.standardError = QString::fromUtf8(standardError);
    return result;
}

void stopAllChildren()
{
    ChildGuard::stopAll();
}

QString failureReason(const RunResult &result)
{
    const QString text = tail(result.standardError.trimmed());
    if (!text.isEmpty())
        return text;
    if (result.signal != 0) {
        const char *name = ::sigdescr_np(result.signal);
        return QStringLiteral("killed by signal %1 (%2)")
            .arg(result.signal)
            .arg(name ? QString::fromLatin1(name) : QStringLiteral("unknown"));
    }
    if (result.status == -1)
        return QStringLiteral("it could not be started");
    return QStringLiteral("exit status %1").arg(result.status);
}

QString tail(const QString &text, qsizetype count)
{
    return text.size() <= count ? text : text.right(count);
}

} // namespace Tools
