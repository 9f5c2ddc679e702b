#pragma once

#include <cstdint>
#include <optional>

// How much more memory this process may take before something refuses it:
// the least of what the kernel reports as available, what the process's
// memory control group still allows, and what its address-space limit leaves.
// A recording keeps every frame in memory, so it watches this and ends itself
// while there is still room for the editor to open on what it has. Any
// thread; reads a few small files under /proc and /sys.
namespace MemoryHeadroom {

// Bytes; absent when nothing could be read.
std::optional<int64_t> bytes();

// The reserve a recording keeps free: room for the editor and for a few more
// frames of `frameBytes` each.
int64_t reserveFor(int64_t frameBytes);

} // namespace MemoryHeadroom
