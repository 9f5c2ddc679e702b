#include "capture/portal/PipeWireStream.h"

#include "capture/portal/PortalFrames.h"

// libpipewire's listener macros cast the C way where they expand.
#pragma GCC diagnostic ignored "-Wold-style-cast"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace {

const QString errorDomain = QStringLiteral("Quillo.PipeWire");

enum ErrorCode : int64_t {
    connectFailed = 1,
    streamEnded = 2,
};

// Frames that may wait on the engine's queue at once, as on X11.
constexpr int queueDepth = 8;

CaptureFailure ended(const QString &why)
{
    return {errorDomain, streamEnded, QStringLiteral("The desktop stopped sharing the screen (%1).").arg(why)};
}

std::optional<PortalFrames::Layout> layoutOf(uint32_t format)
{
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
        return PortalFrames::Layout::bgrx;
    case SPA_VIDEO_FORMAT_BGRA:
        return PortalFrames::Layout::bgra;
    case SPA_VIDEO_FORMAT_RGBx:
        return PortalFrames::Layout::rgbx;
    case SPA_VIDEO_FORMAT_RGBA:
        return PortalFrames::Layout::rgba;
    default:
        return std::nullopt;
    }
}

bool samePixels(const QImage &a, const QImage &b)
{
    return !a.isNull() && !b.isNull() && a.size() == b.size() && a.bytesPerLine() == b.bytesPerLine()
        && std::memcmp(a.constBits(), b.constBits(), size_t(a.sizeInBytes())) == 0;
}

} // namespace

struct PipeWireStream::Impl {
    PipeWireStream::Target target;
    CaptureSink sink;
    std::function<void()> onFirstBuffer;

    pw_thread_loop *loop = nullptr;
    pw_context *context = nullptr;
    pw_core *core = nullptr;
    pw_registry *registry = nullptr;
    pw_stream *stream = nullptr;
    spa_hook coreListener {};
    spa_hook registryListener {};
    spa_hook streamListener {};

    // The stream's thread only, after open().
    QSize size;
    std::optional<PortalFrames::Layout> layout;
    QImage previous;
    std::optional<double> clockOffset;
    bool endSent = false;
    std::shared_ptr<std::atomic<int>> inFlight = std::make_shared<std::atomic<int>>(0);
    // The newest picture that came while the engine's queue was full. The
    // compositor sends a buffer only when something changed, so the one
    // that did not fit may be the screen's last for a long time: it goes to
    // the engine as soon as the queue is empty.
    struct Waiting {
        std::mutex mutex;
        std::optional<CaptureFrame> frame;
    };
    std::shared_ptr<Waiting> waiting = std::make_shared<Waiting>();

    ~Impl();
    bool connect(QString *error);
    void end(const QString &why);
    void formatChanged(const spa_pod *param);
    void process();
    void handle(spa_buffer *buffer);
    double presentationTime(const spa_meta_header *header);
    void send(CaptureFrame frame);
};

namespace {

void onCoreError(void *data, uint32_t id, int, int res, const char *message)
{
    auto *impl = static_cast<PipeWireStream::Impl *>(data);
    if (id == PW_ID_CORE && res == -EPIPE)
        impl->end(QStringLiteral("the PipeWire connection closed"));
    else if (id == PW_ID_CORE)
        impl->end(QString::fromUtf8(message ? message : "PipeWire error"));
}

void onGlobalRemove(void *data, uint32_t id)
{
    auto *impl = static_cast<PipeWireStream::Impl *>(data);
    if (id == impl->target.nodeId)
        impl->end(QStringLiteral("the screencast node went away"));
}

void onStateChanged(void *data, pw_stream_state, pw_stream_state state, const char *error)
{
    auto *impl = static_cast<PipeWireStream::Impl *>(data);
    if (state == PW_STREAM_STATE_ERROR)
        impl->end(QString::fromUtf8(error ? error : "stream error"));
    else if (state == PW_STREAM_STATE_UNCONNECTED)
        impl->end(QStringLiteral("the stream was disconnected"));
}

void onParamChanged(void *data, uint32_t id, const spa_pod *param)
{
    if (id == SPA_PARAM_Format && param)
        static_cast<PipeWireStream::Impl *>(data)->formatChanged(param);
}

void onProcess(void *data)
{
    static_cast<PipeWireStream::Impl *>(data)->process();
}

const pw_core_events coreEvents = [] {
    pw_core_events events {};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = onCoreError;
    return events;
}();

const pw_registry_events registryEvents = [] {
    pw_registry_events events {};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global_remove = onGlobalRemove;
    return events;
}();

const pw_stream_events streamEvents = [] {
    pw_stream_events events {};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = onStateChanged;
    events.param_changed = onParamChanged;
    events.process = onProcess;
    return events;
}();

} // namespace

std::unique_ptr<PipeWireStream> PipeWireStream::open(
    const Target &target, CaptureSink sink, QString *error, std::function<void()> onFirstBuffer)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
    auto impl = std::make_unique<Impl>();
    impl->target = target;
    impl->sink = std::move(sink);
    impl->onFirstBuffer = std::move(onFirstBuffer);
    if (!impl->connect(error))
        return nullptr;
    return std::unique_ptr<PipeWireStream>(new PipeWireStream(std::move(impl)));
}

PipeWireStream::PipeWireStream(std::unique_ptr<Impl> impl)
    : m_impl(std::move(impl))
{
}

PipeWireStream::~PipeWireStream() = default;

PipeWireStream::Impl::~Impl()
{
    // Stopping joins the loop's thread: no callback runs after this.
    if (loop)
        pw_thread_loop_stop(loop);
    if (stream)
        pw_stream_destroy(stream);
    if (registry)
        pw_proxy_destroy(reinterpret_cast<pw_proxy *>(registry));
    if (core)
        pw_core_disconnect(core);
    else if (target.fd >= 0)
        ::close(target.fd);
    if (context)
        pw_context_destroy(context);
    if (loop)
        pw_thread_loop_destroy(loop);
}

bool PipeWireStream::Impl::connect(QString *error)
{
    loop = pw_thread_loop_new("quillo-capture", nullptr);
    if (!loop) {
        *error = QStringLiteral("PipeWire: no loop");
        return false;
    }
    context = pw_context_new(pw_thread_loop_get_loop(loop), nullptr, 0);
    if (!context || pw_thread_loop_start(loop) < 0) {
        *error = QStringLiteral("PipeWire: no context");
        return false;
    }
    pw_thread_loop_lock(loop);
    // The core owns the socket from here on, and closes it even on failure.
    core = pw_context_connect_fd(context, target.fd, nullptr, 0);
    target.fd = -1;
    if (!core) {
        pw_thread_loop_unlock(loop);
        *error = QStringLiteral("PipeWire: cannot connect to the screencast (%1)")
                     .arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    pw_core_add_listener(core, &coreListener, &coreEvents, this);
    registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(registry, &registryListener, &registryEvents, this);

    stream = pw_stream_new(core, "Quillo",
        pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!stream) {
        pw_thread_loop_unlock(loop);
        *error = QStringLiteral("PipeWire: no stream");
        return false;
    }
    pw_stream_add_listener(stream, &streamListener, &streamEvents, this);

    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle defaultSize {1280, 720};
    spa_rectangle minSize {1, 1};
    spa_rectangle maxSize {16384, 16384};
    spa_fraction defaultRate {uint32_t(std::max(target.fps, 1)), 1};
    spa_fraction minRate {0, 1};
    spa_fraction maxRate {1000, 1};
    const spa_pod *params[1];
    params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_Format,
        SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
            SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)));
    const int connected = pw_stream_connect(stream, PW_DIRECTION_INPUT, target.nodeId,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    pw_thread_loop_unlock(loop);
    if (connected < 0) {
        *error = QStringLiteral("PipeWire: cannot connect to node %1 (%2)")
                     .arg(target.nodeId)
                     .arg(QString::fromLocal8Bit(strerror(-connected)));
        return false;
    }
    return true;
}

void PipeWireStream::Impl::end(const QString &why)
{
    if (endSent)
        return;
    endSent = true;
    if (sink.onEnded)
        sink.onEnded(ended(why));
}

void PipeWireStream::Impl::formatChanged(const spa_pod *param)
{
    spa_video_info_raw info {};
    if (spa_format_video_raw_parse(param, &info) < 0)
        return;
    size = QSize(int(info.size.width), int(info.size.height));
    layout = layoutOf(info.format);
    previous = {};

    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const int region = int(sizeof(spa_meta_region));
    const spa_pod *params[4];
    params[0] = static_cast<const spa_pod *>(
        spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(8, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod *>(
        spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    params[2] = static_cast<const spa_pod *>(spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamMeta,
        SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoCrop), SPA_PARAM_META_size, SPA_POD_Int(region)));
    params[3] = static_cast<const spa_pod *>(spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamMeta,
        SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(region * 16, region, region * 16)));
    pw_stream_update_params(stream, params, 4);
}

void PipeWireStream::Impl::process()
{
    pw_buffer *b = pw_stream_dequeue_buffer(stream);
    if (!b)
        return;
    if (onFirstBuffer)
        std::exchange(onFirstBuffer, nullptr)();
    handle(b->buffer);
    pw_stream_queue_buffer(stream, b);
}

double PipeWireStream::Impl::presentationTime(const spa_meta_header *header)
{
    const double now = monotonicSeconds();
    if (!header || header->pts <= 0)
        return now;
    const double pts = double(header->pts) / 1e9;
    // Producers stamp with their own clock, usually the monotonic one; keep
    // their spacing, but on the clock the engine times the stop with.
    if (!clockOffset)
        clockOffset = std::abs(pts - now) < 1.0 ? 0.0 : now - pts;
    return pts + *clockOffset;
}

void PipeWireStream::Impl::handle(spa_buffer *buffer)
{
    if (!layout || size.isEmpty() || buffer->n_datas < 1)
        return;
    const spa_data &data = buffer->datas[0];
    if (!data.data || !data.chunk || (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED))
        return;
    const auto *header = static_cast<const spa_meta_header *>(
        spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
    if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED))
        return;
    CaptureFrame frame;
    frame.presentationTime = presentationTime(header);
    // An empty chunk carries no new picture (a cursor-only update, say).
    if (data.chunk->size == 0) {
        frame.status = FrameStatus::idle;
        send(std::move(frame));
        return;
    }

    QRect content(QPoint(0, 0), size);
    const auto *crop = static_cast<const spa_meta_region *>(
        spa_buffer_find_meta_data(buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
    if (crop && spa_meta_region_is_valid(crop)) {
        content = QRect(crop->region.position.x, crop->region.position.y, int(crop->region.size.width),
                      int(crop->region.size.height))
            & content;
    }
    const double scale = PortalFrames::streamScale(content.width(), target.logicalWidth);
    const QRect rect = PortalFrames::regionInBuffer(target.region, scale, content);

    std::vector<QRect> damage;
    if (spa_meta *meta = spa_buffer_find_meta(buffer, SPA_META_VideoDamage)) {
        spa_meta_region *r = nullptr;
        spa_meta_for_each(r, meta)
        {
            if (!spa_meta_region_is_valid(r))
                break;
            damage.emplace_back(
                r->region.position.x, r->region.position.y, int(r->region.size.width), int(r->region.size.height));
        }
    }
    if (!previous.isNull() && !PortalFrames::touches(damage, rect)) {
        frame.status = FrameStatus::idle;
        send(std::move(frame));
        return;
    }

    const uint32_t offset = std::min(data.chunk->offset, data.maxsize);
    const size_t available = std::min<size_t>(data.chunk->size, data.maxsize - offset);
    const int stride = data.chunk->stride > 0 ? data.chunk->stride : size.width() * 4;
    frame.image
        = PortalFrames::copyRegion(static_cast<const uint8_t *>(data.data) + offset, available, stride, rect, *layout);
    if (samePixels(frame.image, previous)) {
        frame.status = FrameStatus::idle;
        frame.image = QImage();
    } else if (!frame.image.isNull()) {
        previous = frame.image;
    }
    send(std::move(frame));
}

void PipeWireStream::Impl::send(CaptureFrame frame)
{
    if (!sink.queue)
        return;
    // Under the lock, the count and the waiting picture change together: the
    // last frame to leave the queue takes what waits, or a newer buffer does.
    const std::lock_guard lock(waiting->mutex);
    if (inFlight->load() >= queueDepth) {
        // An idle frame only says that nothing changed: it can go.
        if (!frame.image.isNull())
            waiting->frame = std::move(frame);
        return;
    }
    const auto post = [&](CaptureFrame f) {
        inFlight->fetch_add(1);
        sink.queue->async(
            [onFrame = sink.onFrame, frame = std::move(f), inFlight = inFlight, waiting = waiting]() mutable {
                if (onFrame)
                    onFrame(std::move(frame));
                std::optional<CaptureFrame> next;
                {
                    const std::lock_guard lock(waiting->mutex);
                    if (inFlight->fetch_sub(1) == 1)
                        next = std::exchange(waiting->frame, std::nullopt);
                }
                if (next && onFrame)
                    onFrame(std::move(*next));
            });
    };
    if (std::optional<CaptureFrame> earlier = std::exchange(waiting->frame, std::nullopt))
        post(std::move(*earlier));
    post(std::move(frame));
}
