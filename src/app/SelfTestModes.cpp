#include "app/SelfTestModes.h"

#include "base/Log.h"

#include <cstdio>
#include <cstdlib>

namespace SelfTestModes {

void printLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void exitProcess(int status)
{
    Log::flush();
    std::fflush(stdout);
    std::fflush(stderr);
    // _Exit: worker threads (capture, export) may still be running, and static
    // destructors must not pull Qt down under them.
    std::_Exit(status);
}

} // namespace SelfTestModes
