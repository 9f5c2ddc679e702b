#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

class ExportJob;

// Finding and running the external encoders (ffmpeg, gifski), which the user
// may or may not have installed. Nothing is cached: every call searches
// again, so a tool installed or removed while the program runs is noticed on
// the next call. Every function may run on any thread at the same time (the
// only shared state, the list of running children, has its own lock);
// locate() and run() block their caller while a child runs.
//
// The search takes the inherited PATH first, as a shell would, then the usual
// folders of searchDirs(), which a program started from the desktop menu may
// lack on its PATH (a tool installed under ~/.local/bin, say).
//
// QUILLO_TOOL_DIRS, when set, is a colon-separated list of folders that
// replaces both; an empty value means that no tool is found at all. Tests and
// the end-to-end checks use it to present a machine with neither tool, only
// ffmpeg, or both.
namespace Tools {

// "/usr/local/bin", "/usr/bin" and ~/.local/bin, searched in this order
// after PATH.
QStringList searchDirs();

// The absolute path of an executable file called `name`, or absent.
std::optional<QString> locate(const QString &name);
std::optional<QString> ffmpeg();
std::optional<QString> gifski();

struct RunResult {
    // The child's exit status; -1 when it could not be launched, and never 0
    // when it was killed by a signal.
    int32_t status = -1;
    // The signal that ended the child, or 0.
    int32_t signal = 0;
    // The child was stopped because its job was cancelled.
    bool cancelled = false;
    // Everything the child wrote to its standard error (bytes that are not
    // UTF-8 replaced), or the launch error's description.
    QString standardError;
};

// Runs `path` with `arguments` (the program name not included) in the
// inherited environment, in `workingDirectory` when given, with no standard
// input, and waits for it to end. Standard error is collected while the child
// runs; standard output goes to `onStandardOutput` piece by piece as it
// arrives (on the calling thread; progress reports), or is thrown away
// without it. A child that writes megabytes to either never stalls on a full
// pipe.
//
// The child and anything it starts form a process group of their own, which
// is stopped (SIGTERM, then SIGKILL a moment later) when `job` is cancelled,
// and killed by the kernel if this program dies first: no encoder outlives
// the export that started it.
RunResult run(const QString &path, const QStringList &arguments,
    const std::optional<QString> &workingDirectory = std::nullopt, const ExportJob *job = nullptr,
    const std::function<void(const QByteArray &)> &onStandardOutput = {});

// Stops every child process that run() is waiting for in the whole program,
// as a cancel would. For an orderly shutdown. Any thread.
void stopAllChildren();

// Why a run failed, for the user: the tail of its standard error, or when
// that is empty, how it ended ("exit status 3", "killed by signal 9").
QString failureReason(const RunResult &result);

// The last `count` characters of `text` (all of it when shorter): the tail of a
// tool's standard error that the failure messages show.
QString tail(const QString &text, qsizetype count = 300);

} // namespace Tools
