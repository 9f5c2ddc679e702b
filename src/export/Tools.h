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

// The last `count` characters of `text` (all of it when shorter): the tail of a
// tool's standard error that the failure messages show.
QString tail(const QString &text, qsizetype count = 300);

} // namespace Tools
