#include "TestPipeWire.h"

// libpipewire's listener macros cast the C way where they expand.
#pragma GCC diagnostic ignored "-Wold-style-cast"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

void initialise()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

bool waitFor(const std::function<bool()> &done, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    return true;
}

// A client of the daemon on its own thread loop.
struct Client {
    pw_thread_loop *loop = nullptr;
    pw_context *context = nullptr;
    pw_core *core = nullptr;

    explicit Client(const QString &socket)
    {
        initialise();
        loop = pw_thread_loop_new("test-client", nullptr);
        context = pw_context_new(pw_thread_loop_get_loop(loop), nullptr, 0);
        pw_thread_loop_start(loop);
        pw_thread_loop_lock(loop);
        core = pw_context_connect(
            context, pw_properties_new(PW_KEY_REMOTE_NAME, socket.toUtf8().constData(), nullptr), 0);
        pw_thread_loop_unlock(loop);
    }
    ~Client()
    {
        pw_thread_loop_stop(loop);
        if (core)
            pw_core_disconnect(core);
        pw_context_destroy(context);
        pw_thread_loop_destroy(loop);
    }
};

} // namespace

TestPipeWireDaemon::TestPipeWireDaemon()
{
    // The system's own configuration: it has the drivers and the link factory;
    // without a session bus it only warns.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
    env.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), m_dir.path());
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    m_daemon.setProcessEnvironment(env);
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
    m_daemon.start(QStringLiteral("pipewire"), {});
    m_running = m_daemon.waitForStarted(5000) && waitFor([this] { return QFileInfo::exists(socketPath()); });
}

TestPipeWireDaemon::~TestPipeWireDaemon()
{
    m_daemon.terminate();
    m_daemon.waitForFinished(3000);
}

QString TestPipeWireDaemon::socketPath() const
{
    return m_dir.filePath(QStringLiteral("pipewire-0"));
}

int TestPipeWireDaemon::connect() const
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray path = socketPath().toUtf8();
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

namespace {

struct Linker {
    Client client;
    pw_registry *registry = nullptr;
    spa_hook listener {};
    const char *wanted = nullptr;
    std::atomic<uint32_t> consumer {0};

    static void global(void *data, uint32_t id, uint32_t, const char *type, uint32_t, const spa_dict *props)
    {
        auto *self = static_cast<Linker *>(data);
        if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 || !props)
            return;
        const char *role = spa_dict_lookup(props, PW_KEY_MEDIA_ROLE);
        if (role && std::strcmp(role, self->wanted) == 0)
            self->consumer = id;
    }

    Linker(const QString &socket, const char *name)
        : client(socket)
        , wanted(name)
    {
        static const pw_registry_events events = [] {
            pw_registry_events e {};
            e.version = PW_VERSION_REGISTRY_EVENTS;
            e.global = &Linker::global;
            return e;
        }();
        pw_thread_loop_lock(client.loop);
        registry = pw_core_get_registry(client.core, PW_VERSION_REGISTRY, 0);
        pw_registry_add_listener(registry, &listener, &events, this);
        pw_thread_loop_unlock(client.loop);
    }
    ~Linker()
    {
        pw_thread_loop_lock(client.loop);
        pw_proxy_destroy(reinterpret_cast<pw_proxy *>(registry));
        pw_thread_loop_unlock(client.loop);
    }
};

} // namespace

bool TestPipeWireDaemon::link(uint32_t producer, const char *consumerRole) const
{
    Linker linker(socketPath(), consumerRole);
    if (!waitFor([&] { return linker.consumer != 0; }))
        return false;
    pw_thread_loop_lock(linker.client.loop);
    const QByteArray out = QByteArray::number(producer);
    const QByteArray in = QByteArray::number(linker.consumer.load());
    pw_properties *props = pw_properties_new(PW_KEY_LINK_OUTPUT_NODE, out.constData(), PW_KEY_LINK_INPUT_NODE,
        in.constData(), PW_KEY_OBJECT_LINGER, "true", nullptr);
    auto *proxy = static_cast<pw_proxy *>(pw_core_create_object(
        linker.client.core, "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &props->dict, 0));
    pw_properties_free(props);
    pw_thread_loop_unlock(linker.client.loop);
    // Let the request reach the daemon before this client goes; the link
    // lingers after it and after its proxy.
    QThread::msleep(100);
    if (!proxy)
        return false;
    pw_thread_loop_lock(linker.client.loop);
    pw_proxy_destroy(proxy);
    pw_thread_loop_unlock(linker.client.loop);
    return true;
}

struct TestScreenProducer::Impl {
    Options options;
    std::unique_ptr<Client> client;
    pw_stream *stream = nullptr;
    spa_hook listener {};
    std::atomic<uint32_t> node {0};
    std::atomic<bool> streaming {false};
    int stride = 0;
    uint32_t seq = 0;

    static void stateChanged(void *data, pw_stream_state, pw_stream_state state, const char *)
    {
        auto *self = static_cast<Impl *>(data);
        if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING)
            self->node = pw_stream_get_node_id(self->stream);
        self->streaming = state == PW_STREAM_STATE_STREAMING;
    }

    static void paramChanged(void *data, uint32_t id, const spa_pod *param)
    {
        auto *self = static_cast<Impl *>(data);
        if (id != SPA_PARAM_Format || !param)
            return;
        uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const int region = int(sizeof(spa_meta_region));
        const spa_pod *params[4];
        params[0] = static_cast<const spa_pod *>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
                SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
                SPA_POD_Int(self->stride * self->options.size.height()), SPA_PARAM_BUFFERS_stride,
                SPA_POD_Int(self->stride), SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd)));
        params[1] = static_cast<const spa_pod *>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
                SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
        params[2]
            = static_cast<const spa_pod *>(spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoCrop), SPA_PARAM_META_size, SPA_POD_Int(region)));
        params[3] = static_cast<const spa_pod *>(spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta,
            SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size,
            SPA_POD_CHOICE_RANGE_Int(region * 16, region, region * 16)));
        pw_stream_update_params(self->stream, params, 4);
    }
};

TestScreenProducer::TestScreenProducer(const TestPipeWireDaemon &daemon, const Options &options)
    : m_impl(std::make_unique<Impl>())
{
    Impl &d = *m_impl;
    d.options = options;
    d.stride = options.size.width() * 4 + options.rowPadding;
    d.client = std::make_unique<Client>(daemon.socketPath());
    if (!d.client->core)
        return;
    static const pw_stream_events events = [] {
        pw_stream_events e {};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &Impl::stateChanged;
        e.param_changed = &Impl::paramChanged;
        return e;
    }();
    uint32_t format = SPA_VIDEO_FORMAT_BGRx;
    switch (options.format) {
    case Format::bgrx:
        format = SPA_VIDEO_FORMAT_BGRx;
        break;
    case Format::bgra:
        format = SPA_VIDEO_FORMAT_BGRA;
        break;
    case Format::rgbx:
        format = SPA_VIDEO_FORMAT_RGBx;
        break;
    case Format::rgba:
        format = SPA_VIDEO_FORMAT_RGBA;
        break;
    }
    pw_thread_loop_lock(d.client->loop);
    d.stream = pw_stream_new(d.client->core, "test-screen",
        pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, "test-screen", nullptr));
    pw_stream_add_listener(d.stream, &d.listener, &events, &d);
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle size {uint32_t(options.size.width()), uint32_t(options.size.height())};
    spa_fraction rate {0, 1};
    const spa_pod *params[1];
    params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_Format,
        SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format, SPA_POD_Id(format), SPA_FORMAT_VIDEO_size,
        SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
    pw_stream_connect(d.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    pw_thread_loop_unlock(d.client->loop);
    waitFor([&] { return d.node != 0; });
}

TestScreenProducer::~TestScreenProducer()
{
    Impl &d = *m_impl;
    if (d.client && d.stream) {
        pw_thread_loop_lock(d.client->loop);
        pw_stream_destroy(d.stream);
        pw_thread_loop_unlock(d.client->loop);
    }
}

uint32_t TestScreenProducer::nodeId() const
{
    return m_impl->node;
}

bool TestScreenProducer::waitUntilStreaming() const
{
    return waitFor([this] { return m_impl->streaming.load(); });
}

bool TestScreenProducer::push(const QImage &picture, const std::vector<QRect> &damage)
{
    Impl &d = *m_impl;
    pw_thread_loop_lock(d.client->loop);
    pw_buffer *b = pw_stream_dequeue_buffer(d.stream);
    if (!b || !b->buffer->datas[0].data) {
        pw_thread_loop_unlock(d.client->loop);
        return false;
    }
    spa_buffer *buf = b->buffer;
    auto *base = static_cast<uint8_t *>(buf->datas[0].data);
    const QRect content = d.options.crop.value_or(QRect(QPoint(0, 0), d.options.size));
    const QImage source = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < d.options.size.height(); ++y) {
        uint8_t *row = base + size_t(y) * size_t(d.stride);
        std::memset(row, 0x5a, size_t(d.stride)); // noise outside the content, and in the padding
        if (y < content.top() || y > content.bottom())
            continue;
        const auto *src = reinterpret_cast<const uint32_t *>(source.constScanLine(y - content.top()));
        for (int x = 0; x < content.width(); ++x) {
            const uint32_t p = src[x];
            const uint8_t r = uint8_t(p >> 16), g = uint8_t(p >> 8), bl = uint8_t(p);
            uint8_t *px = row + size_t(content.left() + x) * 4;
            const bool rgb = d.options.format == Format::rgbx || d.options.format == Format::rgba;
            px[0] = rgb ? r : bl;
            px[1] = g;
            px[2] = rgb ? bl : r;
            px[3] = 0; // never transparency on a screen, whatever it holds
        }
    }
    if (auto *h
        = static_cast<spa_meta_header *>(spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(spa_meta_header)))) {
        timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        h->pts = int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
        h->flags = 0;
        h->seq = d.seq++;
    }
    if (auto *c
        = static_cast<spa_meta_region *>(spa_buffer_find_meta_data(buf, SPA_META_VideoCrop, sizeof(spa_meta_region)))) {
        c->region = d.options.crop ? SPA_REGION(d.options.crop->x(), d.options.crop->y(),
                        uint32_t(d.options.crop->width()), uint32_t(d.options.crop->height()))
                                   : SPA_REGION(0, 0, 0, 0);
    }
    if (spa_meta *m = spa_buffer_find_meta(buf, SPA_META_VideoDamage)) {
        auto *r = static_cast<spa_meta_region *>(spa_meta_first(m));
        for (const QRect &rect : damage) {
            if (!spa_meta_check(r, m))
                break;
            r->region = SPA_REGION(rect.x(), rect.y(), uint32_t(rect.width()), uint32_t(rect.height()));
            ++r;
        }
        if (spa_meta_check(r, m))
            r->region = SPA_REGION(0, 0, 0, 0);
    }
    buf->datas[0].chunk->offset = 0;
    buf->datas[0].chunk->size = uint32_t(d.stride * d.options.size.height());
    buf->datas[0].chunk->stride = d.stride;
    pw_stream_queue_buffer(d.stream, b);
    pw_thread_loop_unlock(d.client->loop);
    return true;
}
