#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// Finding and running the external encoders (ffmpeg, gifski), which the user
// may or may not have installed. Nothing is cached: every call searches
// again, so a tool installed or removed while the program runs is noticed on
// the next call. No shared state: every function may run on any thread at the
// same time; locate() and run() block their caller while a child runs.
//
// QUILLO_TOOL_DIRS, when set, is a colon-separated list of folders that
// replaces both the fixed folders and the lookup through PATH; an empty value
// means that no tool is found at all. Tests and the end-to-end checks use it
// to present a machine with neither tool, only ffmpeg, or both. Without it the
// search is exactly searchDirs() and then `which` through the inherited PATH.
namespace Tools {

// "/opt/homebrew/bin", "/usr/local/bin", "/usr/bin", searched in this order.
QStringList searchDirs();

// The absolute path of an executable file called `name`, or absent.
std::optional<QString> locate(const QString &name);
std::optional<QString> ffmpeg();
std::optional<QString> gifski();

struct RunResult {
    // The child's exit status; -1 when it could not be launched.
    int32_t status = -1;
    // Everything the child wrote to its standard error (empty when it was not
    // valid UTF-8), or the launch error's description.
    QString standardError;
};

// Runs `path` with `arguments` (the program name not included) in the
// inherited environment, in `workingDirectory` when given, and waits for it to
// end. Standard output is thrown away as it arrives and standard error is
// collected while the child runs, so a child that writes megabytes to either
// never stalls on a full pipe.
RunResult run(
    const QString &path, const QStringList &arguments, const std::optional<QString> &workingDirectory = std::nullopt);

// How many bytes of arguments a child started now may take: the kernel's limit
// for arguments and environment together, less this process's environment
// (which the child inherits) and a margin. Each argument counts its bytes, its
// terminating NUL and its pointer.
qsizetype commandLineBudget();

// The last `count` characters of `text` (all of it when shorter): the tail of a
// tool's standard error that the failure messages show.
QString tail(const QString &text, qsizetype count = 300);

} // namespace Tools
