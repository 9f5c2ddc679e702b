#include "capture/MemoryHeadroom.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>

#include <sys/resource.h>
#include <unistd.h>

namespace MemoryHeadroom {

namespace {

std::optional<QByteArray> readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
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

std::optional<int64_t> number(const std::optional<QByteArray> &text)
{
    if (!text)
        return std::nullopt;
    bool ok = false;
    const int64_t value = text->trimmed().toLongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

// One "name value" line of a control group's memory.stat.
std::optional<int64_t> statValue(const std::optional<QByteArray> &stat, const QByteArray &name)
{
    if (!stat)
        return std::nullopt;
    for (const QByteArray &line : stat->split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2 && parts[0] == name)
            return number(parts[1]);
    }
    return std::nullopt;
}

} // namespace

std::optional<int64_t> cgroupRoom(
    const QByteArray &membership, const std::function<std::optional<QByteArray>(const QString &path)> &read)
{
    std::optional<int64_t> room;
    for (const QByteArray &raw : membership.split('\n')) {
        const QList<QByteArray> parts = raw.split(':');
        if (parts.size() < 3)
            continue;
        const QString path = QString::fromUtf8(parts.mid(2).join(':'));
        std::optional<int64_t> limit, usage, reclaimable;
        if (parts[0] == "0" && parts[1].isEmpty()) {
            const QString dir = QStringLiteral("/sys/fs/cgroup") + path;
            limit = number(read(dir + QStringLiteral("/memory.max")));
            usage = number(read(dir + QStringLiteral("/memory.current")));
            reclaimable = statValue(read(dir + QStringLiteral("/memory.stat")), "inactive_file");
        } else if (parts[1].split(',').contains("memory")) {
            const QString dir = QStringLiteral("/sys/fs/cgroup/memory") + path;
            limit = number(read(dir + QStringLiteral("/memory.limit_in_bytes")));
            usage = number(read(dir + QStringLiteral("/memory.usage_in_bytes")));
            reclaimable = statValue(read(dir + QStringLiteral("/memory.stat")), "total_inactive_file");
        }
        if (usage && reclaimable)
            usage = std::max<int64_t>(0, *usage - *reclaimable);
        // "max" (v2) does not read as a number; v1 says "no limit" with a
        // number near 2^63.
        if (limit && usage && *limit < (int64_t(1) << 60))
            room = std::min(room.value_or(INT64_MAX), *limit - *usage);
    }
    return room;
}

std::optional<int64_t> bytes()
{
    const std::optional<QByteArray> membership = readFile(QStringLiteral("/proc/self/cgroup"));
    const std::optional<int64_t> group = membership ? cgroupRoom(*membership, &readFile) : std::nullopt;
    std::optional<int64_t> least;
    for (const std::optional<int64_t> &room : {memAvailable(), group, addressSpaceRoom()}) {
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
