// Counts the round trips a process makes to its X server, for the busy-screen
// benchmark: preloaded (LD_PRELOAD) in front of libxcb, it sees every wait for
// a reply. A wait whose reply is already in (it came with an earlier one: the
// requests were pipelined) costs nothing and is not counted; one that has to
// block is a round trip, and the time it blocks is summed. Only threads other
// than the main one count: the capture runs on its own threads, while the
// benchmark's main thread talks to the server for its own scene.
//
// The benchmark reads the figures through quillo_xcb_waits(), found with
// dlsym(), so it runs unchanged without the library.
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>

namespace {

std::atomic<uint64_t> g_waits {0};
std::atomic<uint64_t> g_blockedNanos {0};

bool counted()
{
    return pid_t(syscall(SYS_gettid)) != getpid();
}

template <typename F> F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// The reply if it is already there (or the request failed), without blocking.
bool ready(xcb_connection_t *c, uint64_t request, void **reply, xcb_generic_error_t **e)
{
    xcb_generic_error_t *error = nullptr;
    if (!xcb_poll_for_reply64(c, request, reply, &error))
        return false;
    if (e)
        *e = error;
    else
        std::free(error);
    return true;
}

template <typename Wait> void *blockingWait(Wait wait)
{
    const auto start = std::chrono::steady_clock::now();
    void *reply = wait();
    g_waits.fetch_add(1, std::memory_order_relaxed);
    g_blockedNanos.fetch_add(
        uint64_t(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count()),
        std::memory_order_relaxed);
    return reply;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) void quillo_xcb_waits(uint64_t *waits, uint64_t *blockedNanos)
{
    *waits = g_waits.load();
    *blockedNanos = g_blockedNanos.load();
}

__attribute__((visibility("default"))) void *xcb_wait_for_reply(
    xcb_connection_t *c, unsigned int request, xcb_generic_error_t **e)
{
    using Fn = void *(*)(xcb_connection_t *, unsigned int, xcb_generic_error_t **);
    static const Fn next = real<Fn>("xcb_wait_for_reply");
    if (!counted())
        return next(c, request, e);
    // Sends what is still buffered, as the real wait would, so that a reply
    // is not taken for missing only because its request was never sent.
    xcb_flush(c);
    void *reply = nullptr;
    if (ready(c, request, &reply, e))
        return reply;
    return blockingWait([&] { return next(c, request, e); });
}

__attribute__((visibility("default"))) void *xcb_wait_for_reply64(
    xcb_connection_t *c, uint64_t request, xcb_generic_error_t **e)
{
    using Fn = void *(*)(xcb_connection_t *, uint64_t, xcb_generic_error_t **);
    static const Fn next = real<Fn>("xcb_wait_for_reply64");
    if (!counted())
        return next(c, request, e);
    xcb_flush(c);
    void *reply = nullptr;
    if (ready(c, request, &reply, e))
        return reply;
    return blockingWait([&] { return next(c, request, e); });
}

__attribute__((visibility("default"))) xcb_generic_error_t *xcb_request_check(
    xcb_connection_t *c, xcb_void_cookie_t cookie)
{
    using Fn = xcb_generic_error_t *(*)(xcb_connection_t *, xcb_void_cookie_t);
    static const Fn next = real<Fn>("xcb_request_check");
    if (!counted())
        return next(c, cookie);
    return static_cast<xcb_generic_error_t *>(blockingWait([&] { return next(c, cookie); }));
}
}
