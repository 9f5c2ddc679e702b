#include "capture/FrameMemory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Smaller pictures come from the heap as usual.
constexpr size_t pooledFrom = size_t(256) << 10;
// Blocks kept ready: a few frames' worth, so that a burst of changed frames
// does not outrun the thread that fills them.
constexpr size_t readyBlocks = 4;
// With no frame asked for this long, the ready blocks are given back.
constexpr auto idleRelease = std::chrono::seconds(3);

struct Block {
    void *address = nullptr;
    size_t length = 0;
};

// Never destroyed: frames may be released, and the filling thread runs, until
// the process ends.
struct Pool {
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Block> ready; // all of `wanted` bytes
    size_t wanted = 0;
    std::chrono::steady_clock::time_point lastUse;
    bool filling = false;
};

Pool &pool()
{
    static Pool *p = new Pool;
    return *p;
}

size_t pageRounded(size_t bytes)
{
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

void *map(size_t length, bool populate)
{
    void *block = mmap(
        nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0), -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void unmap(const std::vector<Block> &blocks)
{
    for (const Block &b : blocks)
        munmap(b.address, b.length);
}

// Keeps `readyBlocks` blocks of the size last asked for, their pages already
// in place, and gives them back once no frame has been asked for a while.
void fill()
{
    Pool &p = pool();
    std::unique_lock lock(p.mutex);
    for (;;) {
        const bool short_ = p.wanted && p.ready.size() < readyBlocks;
        if (!short_) {
            if (p.wake.wait_until(lock, p.lastUse + idleRelease) == std::cv_status::timeout
                && std::chrono::steady_clock::now() >= p.lastUse + idleRelease) {
                std::vector<Block> old;
                old.swap(p.ready);
                p.wanted = 0;
                lock.unlock();
                unmap(old);
                lock.lock();
                p.wake.wait(lock, [&] { return p.wanted != 0; });
            }
            continue;
        }
        const size_t length = p.wanted;
        lock.unlock();
        void *address = map(length, true);
        lock.lock();
        if (!address) {
            // No memory to spare: the frames get theirs when they ask.
            p.wake.wait_for(lock, std::chrono::seconds(1));
        } else if (length == p.wanted) {
            p.ready.push_back({address, length});
        } else {
            lock.unlock();
            munmap(address, length);
            lock.lock();
        }
    }
}

void release(void *info)
{
    auto *block = static_cast<Block *>(info);
    Pool &p = pool();
    {
        // Its pages are in place: as good as a filled block.
        std::lock_guard lock(p.mutex);
        // Up to twice the filled number: a grab that changed nothing hands
        // its block back after the thread has already replaced it.
        if (block->length == p.wanted && p.ready.size() < 2 * readyBlocks) {
            p.ready.push_back(*block);
            delete block;
            return;
        }
    }
    munmap(block->address, block->length);
    delete block;
}

} // namespace

namespace FrameMemory {

QImage allocate(QSize size)
{
    if (size.isEmpty())
        return {};
    const size_t bytesPerLine = size_t(size.width()) * 4;
    const size_t bytes = bytesPerLine * size_t(size.height());
    if (bytes < pooledFrom)
        return QImage(size, QImage::Format_ARGB32_Premultiplied);

    const size_t length = pageRounded(bytes);
    Block block;
    std::vector<Block> stale;
    {
        Pool &p = pool();
        std::lock_guard lock(p.mutex);
        p.lastUse = std::chrono::steady_clock::now();
        if (p.wanted != length) {
            stale.swap(p.ready);
            p.wanted = length;
        }
        if (!p.ready.empty()) {
            block = p.ready.back();
            p.ready.pop_back();
        }
        if (!p.filling) {
            p.filling = true;
            std::thread(fill).detach();
        }
        p.wake.notify_one();
    }
    unmap(stale);
    if (!block.address) {
        block = {map(length, false), length};
        if (!block.address)
            return {};
    }
    auto *owner = new Block(block);
    return QImage(static_cast<uchar *>(block.address), size.width(), size.height(), qsizetype(bytesPerLine),
        QImage::Format_ARGB32_Premultiplied, release, owner);
}

} // namespace FrameMemory
