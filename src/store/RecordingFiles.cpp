#include "store/RecordingFiles.h"

#include <QFile>
#include <QRegularExpression>

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RecordingFiles {

namespace {

constexpr char RECORD_MAGIC[4] = {'Q', 'F', 'R', '1'};
constexpr char INDEX_MAGIC[4] = {'Q', 'I', 'X', '1'};
constexpr int64_t NO_TIMESTAMP = INT64_MIN;

template <typename T> void put(QByteArray &out, T value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

// Reads fixed-size values from a byte range; once a read runs past the end
// every later read fails too.
class Reader {
public:
    Reader(const char *data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    template <typename T> bool get(T &value)
    {
        if (m_at + sizeof value > m_size) {
            m_ok = false;
            return false;
        }
        std::memcpy(&value, m_data + m_at, sizeof value);
        m_at += sizeof value;
        return true;
    }
    bool ok() const { return m_ok; }
    std::size_t left() const { return m_size - m_at; }

private:
    const char *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    bool m_ok = true;
};

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

bool readFully(int fd, char *data, std::size_t size, int64_t offset, std::size_t &got)
{
    got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, data + got, size - got, offset + int64_t(got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    return true;
}

bool writeFully(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

} // namespace

QString segmentName(uint32_t number)
{
    return QStringLiteral("frames-%1").arg(number);
}

std::optional<uint32_t> segmentNumber(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^frames-([1-9][0-9]{0,8})$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toUInt();
}

uint32_t crc32(const void *data, std::size_t size, uint32_t start)
{
    uLong crc = start;
    const auto *bytes = static_cast<const Bytef *>(data);
    while (size > 0) {
        const auto chunk = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        crc = ::crc32(crc, bytes, chunk);
        bytes += chunk;
        size -= chunk;
    }
    return uint32_t(crc);
}

QByteArray encodeHeader(const RecordHeader &h)
{
    QByteArray body;
    put(body, h.id);
    put(body, h.refId);
    put(body, h.timestampUs.value_or(NO_TIMESTAMP));
    put(body, h.width);
    put(body, h.height);
    put(body, h.payloadSize);
    put(body, h.payloadCrc);
    put(body, uint32_t(h.opaque ? 1 : 0));
    put(body, uint32_t(0));
    QByteArray out(RECORD_MAGIC, 4);
    put(out, crc32(body.constData(), std::size_t(body.size())));
    out += body;
    Q_ASSERT(std::size_t(out.size()) == RecordHeader::SIZE);
    return out;
}

std::optional<RecordHeader> decodeHeader(const char *bytes)
{
    if (std::memcmp(bytes, RECORD_MAGIC, 4) != 0)
        return std::nullopt;
    uint32_t crc = 0;
    std::memcpy(&crc, bytes + 4, 4);
    if (crc != crc32(bytes + 8, RecordHeader::SIZE - 8))
        return std::nullopt;
    Reader r(bytes + 8, RecordHeader::SIZE - 8);
    RecordHeader h;
    int64_t timestamp = 0;
    uint32_t flags = 0, reserved = 0;
    r.get(h.id);
    r.get(h.refId);
    r.get(timestamp);
    r.get(h.width);
    r.get(h.height);
    r.get(h.payloadSize);
    r.get(h.payloadCrc);
    r.get(flags);
    r.get(reserved);
    if (!r.ok() || h.id == 0 || h.width == 0 || h.height == 0 || h.width > 1u << 15 || h.height > 1u << 15)
        return std::nullopt;
    if (timestamp != NO_TIMESTAMP)
        h.timestampUs = timestamp;
    h.opaque = flags & 1;
    return h;
}

SegmentScan scanSegment(const QString &path, uint32_t segment, bool checkPayloads)
{
    SegmentScan scan;
    const int fd = ::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        scan.error = errnoError(errno, QStringLiteral("Cannot read"), path);
        return scan;
    }
    struct stat st { };
    ::fstat(fd, &st);
    const int64_t end = st.st_size;
    int64_t at = 0;
    QByteArray payload;
    char head[RecordHeader::SIZE];
    while (at < end) {
        std::size_t got = 0;
        if (!readFully(fd, head, sizeof head, at, got)) {
            scan.error = errnoError(errno, QStringLiteral("Cannot read"), path);
            break;
        }
        if (got < sizeof head) {
            scan.tornTail = true;
            break;
        }
        const std::optional<RecordHeader> header = decodeHeader(head);
        if (!header) {
            scan.damage << QStringLiteral("%1: a damaged record at byte %2; %3 bytes after it are unreadable")
                               .arg(path)
                               .arg(at)
                               .arg(end - at);
            break;
        }
        const int64_t payloadAt = at + int64_t(RecordHeader::SIZE);
        if (payloadAt + int64_t(header->payloadSize) > end) {
            scan.tornTail = true;
            break;
        }
        if (checkPayloads) {
            payload.resize(qsizetype(header->payloadSize));
            if (!readFully(fd, payload.data(), header->payloadSize, payloadAt, got) || got != header->payloadSize) {
                scan.error = errnoError(errno, QStringLiteral("Cannot read"), path);
                break;
            }
            if (crc32(payload.constData(), got) != header->payloadCrc) {
                scan.damage << QStringLiteral("%1: frame %2 is damaged").arg(path).arg(header->id);
                at = payloadAt + int64_t(header->payloadSize);
                continue;
            }
        }
        scan.records.push_back({*header, segment, payloadAt});
        at = payloadAt + int64_t(header->payloadSize);
    }
    ::close(fd);
    return scan;
}

QByteArray encodeIndex(const StoredIndex &index)
{
    QByteArray body;
    put(body, index.generation);
    put(body, index.loopCount);
    put(body, index.fps);
    put(body, index.canvasWidth);
    put(body, index.canvasHeight);
    put(body, uint32_t(index.segments.size()));
    for (uint32_t s : index.segments)
        put(body, s);
    put(body, uint64_t(index.frames.size()));
    for (const auto &[id, delay] : index.frames) {
        put(body, id);
        put(body, delay);
    }
    QByteArray out(INDEX_MAGIC, 4);
    put(out, crc32(body.constData(), std::size_t(body.size())));
    return out + body;
}

std::optional<StoredIndex> decodeIndex(const QByteArray &bytes)
{
    if (bytes.size() < 8 || std::memcmp(bytes.constData(), INDEX_MAGIC, 4) != 0)
        return std::nullopt;
    uint32_t crc = 0;
    std::memcpy(&crc, bytes.constData() + 4, 4);
    if (crc != crc32(bytes.constData() + 8, std::size_t(bytes.size() - 8)))
        return std::nullopt;
    Reader r(bytes.constData() + 8, std::size_t(bytes.size() - 8));
    StoredIndex index;
    uint32_t segments = 0;
    uint64_t frames = 0;
    r.get(index.generation);
    r.get(index.loopCount);
    r.get(index.fps);
    r.get(index.canvasWidth);
    r.get(index.canvasHeight);
    r.get(segments);
    if (!r.ok() || segments > r.left() / 4)
        return std::nullopt;
    index.segments.resize(segments);
    for (uint32_t &s : index.segments)
        r.get(s);
    r.get(frames);
    if (!r.ok() || frames != r.left() / 16 || r.left() % 16 != 0)
        return std::nullopt;
    index.frames.resize(std::size_t(frames));
    for (auto &[id, delay] : index.frames) {
        r.get(id);
        r.get(delay);
    }
    if (!r.ok())
        return std::nullopt;
    return index;
}

QByteArray encodeInfo(const RecordingInfo &info)
{
    return QStringLiteral("quillo-recording 1\ncreated %1\nfps %2\nvariableFrameRate %3\n")
        .arg(info.created.toUTC().toString(Qt::ISODateWithMs))
        .arg(info.fps)
        .arg(info.variableFrameRate ? 1 : 0)
        .toUtf8();
}

std::optional<RecordingInfo> decodeInfo(const QByteArray &bytes)
{
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty() || lines.front() != QLatin1String("quillo-recording 1"))
        return std::nullopt;
    RecordingInfo info;
    bool haveCreated = false, haveFps = false;
    for (const QString &line : lines.mid(1)) {
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        const QString key = line.left(space), value = space < 0 ? QString() : line.mid(space + 1);
        if (key == QLatin1String("created")) {
            info.created = QDateTime::fromString(value, Qt::ISODateWithMs);
            haveCreated = info.created.isValid();
        } else if (key == QLatin1String("fps")) {
            info.fps = value.toLongLong(&haveFps);
        } else if (key == QLatin1String("variableFrameRate")) {
            info.variableFrameRate = value == QLatin1String("1");
        }
    }
    if (!haveCreated || !haveFps || info.fps <= 0)
        return std::nullopt;
    return info;
}

std::optional<StoreError> replaceDurably(
    const QString &folder, const QString &name, const QString &tempName, const QByteArray &bytes)
{
    const QString temp = folder + QLatin1Char('/') + tempName;
    const QString target = folder + QLatin1Char('/') + name;
    const int fd = ::open(nativePath(temp).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return errnoError(errno, QStringLiteral("Cannot write"), temp);
    if (!writeFully(fd, bytes.constData(), std::size_t(bytes.size())) || ::fsync(fd) != 0) {
        const int code = errno;
        ::close(fd);
        ::unlink(nativePath(temp).constData());
        return errnoError(code, QStringLiteral("Cannot write"), temp);
    }
    ::close(fd);
    if (::rename(nativePath(temp).constData(), nativePath(target).constData()) != 0) {
        const int code = errno;
        ::unlink(nativePath(temp).constData());
        return errnoError(code, QStringLiteral("Cannot replace"), target);
    }
    const int dir = ::open(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return std::nullopt;
}

FileRead readWhole(const QString &path)
{
    FileRead result;
    QFile file(path);
    if (!file.exists())
        return result;
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = StoreError {
            StoreError::Kind::unreadable, QStringLiteral("Cannot read %1: %2").arg(path, file.errorString())};
        return result;
    }
    result.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.bytes.reset();
        result.error = StoreError {
            StoreError::Kind::unreadable, QStringLiteral("Cannot read %1: %2").arg(path, file.errorString())};
    }
    return result;
}

int tryLock(const QString &folder)
{
    const QString path = folder + QLatin1Char('/') + QLatin1String(LOCK_NAME);
    const int fd = ::open(nativePath(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool isLocked(const QString &folder)
{
    const QString path = folder + QLatin1Char('/') + QLatin1String(LOCK_NAME);
    const int fd = ::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

StoreError errnoError(int code, const QString &what, const QString &path)
{
    StoreError error;
    if (code == ENOSPC || code == EDQUOT) {
        error.kind = StoreError::Kind::diskFull;
        error.message = QStringLiteral("The disk is full: cannot write %1").arg(path);
        return error;
    }
    error.kind
        = what.startsWith(QLatin1String("Cannot read")) ? StoreError::Kind::unreadable : StoreError::Kind::unwritable;
    error.message = QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(code)));
    return error;
}

} // namespace RecordingFiles
