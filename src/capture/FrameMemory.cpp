#include "capture/FrameMemory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <vector>

namespace {

constexpr size_t hugePage = size_t(2) << 20;
// Released blocks kept for reuse: enough for a grab in flight and the one
// after it.
constexpr size_t keptBlocks = 2;

struct Block {
    void *address = nullptr;
    size_t length = 0;
};

std::mutex g_mutex;
std::vector<Block> g_released; // guarded by g_mutex

size_t pageRounded(size_t bytes)
{
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

// `length` bytes starting on a 2 MiB boundary, or nullptr.
void *mapAligned(size_t length)
{
    void *raw = mmap(nullptr, length + hugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + hugePage - 1) & ~(hugePage - 1);
    if (aligned > start)
        munmap(raw, aligned - start);
    const uintptr_t end = start + length + hugePage;
    if (end > aligned + length)
        munmap(reinterpret_cast<void *>(aligned + length), end - (aligned + length));
    void *block = reinterpret_cast<void *>(aligned);
    // Only advice: without transparent huge pages the block works all the same.
    madvise(block, length, MADV_HUGEPAGE);
    return block;
}

void release(void *info)
{
    auto *block = static_cast<Block *>(info);
    Block dropped;
    {
        // The newest are kept: the next grab is most likely of their size.
        std::lock_guard lock(g_mutex);
        g_released.push_back(*block);
        if (g_released.size() > keptBlocks) {
            dropped = g_released.front();
            g_released.erase(g_released.begin());
        }
    }
    delete block;
    if (dropped.address)
        munmap(dropped.address, dropped.length);
}

} // namespace

namespace FrameMemory {

QImage allocate(QSize size)
{
    if (size.isEmpty())
        return {};
    const size_t bytesPerLine = size_t(size.width()) * 4;
    const size_t bytes = bytesPerLine * size_t(size.height());
    if (bytes < hugePage)
        return QImage(size, QImage::Format_ARGB32_Premultiplied);

    const size_t length = pageRounded(bytes);
    Block block;
    {
        std::lock_guard lock(g_mutex);
        for (auto it = g_released.begin(); it != g_released.end(); ++it) {
            if (it->length == length) {
                block = *it;
                g_released.erase(it);
                break;
            }
        }
    }
    if (!block.address) {
        block.address = mapAligned(length);
        block.length = length;
        if (!block.address)
            return {};
    }
    auto *owner = new Block(block);
    return QImage(static_cast<uchar *>(block.address), size.width(), size.height(), qsizetype(bytesPerLine),
        QImage::Format_ARGB32_Premultiplied, release, owner);
}

} // namespace FrameMemory
