#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// How much more memory this process may take before something refuses it:
// the least of what the kernel reports as available, what the process's
// memory control group still allows (not counting the page cache the kernel
// can reclaim), and what its address-space limit leaves. A recording keeps
// frames in memory, or their compression backlog when a frame store keeps
// them, so it watches this and ends itself while there is still room for the
// editor to open on what it has. Any thread; reads a few small files under
// /proc and /sys.
namespace MemoryHeadroom {

// Bytes; absent when nothing could be read.
std::optional<int64_t> bytes();

// What the memory control groups named in `membership` (the text of
// /proc/self/cgroup, v2 and v1 lines) still allow: the least of limit minus
// usage, where usage leaves out the group's inactive page cache (the pages of
// files written and not read since, which the kernel reclaims before the
// group runs out). `read` gives a file's bytes, absent when it cannot be
// read. Absent when no group has a limit.
std::optional<int64_t> cgroupRoom(
    const QByteArray &membership, const std::function<std::optional<QByteArray>(const QString &path)> &read);

// The reserve a recording keeps free: room for the editor and for a few more
// frames of `frameBytes` each.
int64_t reserveFor(int64_t frameBytes);

} // namespace MemoryHeadroom
