#include "capture/MemoryHeadroom.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>

#include <sys/resource.h>
#include <unistd.h>

namespace MemoryHeadroom {

namespace {

std::optional<int64_t> readNumber(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const int64_t value = file.readAll().trimmed().toLongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

std::optional<int64_t> memAvailable()
{
    QFile file(QStringLiteral("/proc/meminfo"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (line.startsWith("MemAvailable:")) {
            bool ok = false;
            const int64_t kib = line.mid(13).trimmed().split(' ').value(0).toLongLong(&ok);
            if (ok)
                return kib * 1024;
        }
    }
    return std::nullopt;
}

// What the memory control group of this process still allows (v2 or v1).
std::optional<int64_t> cgroupRoom()
{
    QFile file(QStringLiteral("/proc/self/cgroup"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<int64_t> room;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QList<QByteArray> parts = raw.split(':');
        if (parts.size() < 3)
            continue;
        const QString path = QString::fromUtf8(parts.mid(2).join(':'));
        std::optional<int64_t> limit, usage;
        if (parts[0] == "0" && parts[1].isEmpty()) {
            limit = readNumber(QStringLiteral("/sys/fs/cgroup") + path + QStringLiteral("/memory.max"));
            usage = readNumber(QStringLiteral("/sys/fs/cgroup") + path + QStringLiteral("/memory.current"));
        } else if (parts[1].split(',').contains("memory")) {
            limit
                = readNumber(QStringLiteral("/sys/fs/cgroup/memory") + path + QStringLiteral("/memory.limit_in_bytes"));
            usage
                = readNumber(QStringLiteral("/sys/fs/cgroup/memory") + path + QStringLiteral("/memory.usage_in_bytes"));
        }
        // "max" (v2) does not read as a number; v1 says "no limit" with a
        // number near 2^63.
        if (limit && usage && *limit < (int64_t(1) << 60))
            room = std::min(room.value_or(INT64_MAX), *limit - *usage);
    }
    return room;
}

std::optional<int64_t> addressSpaceRoom()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const int64_t pages = statm.readAll().split(' ').value(0).toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return int64_t(limit.rlim_cur) - pages * int64_t(::sysconf(_SC_PAGESIZE));
}

} // namespace

std::optional<int64_t> bytes()
{
    std::optional<int64_t> least;
    for (const std::optional<int64_t> &room : {memAvailable(), cgroupRoom(), addressSpaceRoom()}) {
        if (room)
            least = std::min(least.value_or(INT64_MAX), *room);
    }
    return least;
}

int64_t reserveFor(int64_t frameBytes)
{
    return 256 * 1024 * 1024 + 16 * std::max<int64_t>(frameBytes, 0);
}

} // namespace MemoryHeadroom
