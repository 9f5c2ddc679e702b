#pragma once

#include "store/RecordingIndex.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// The byte layouts of a recording folder and the system calls that make them
// durable. Little-endian throughout; every structure carries a CRC-32 so that
// damage is found, not decoded. Any thread; no state.
namespace RecordingFiles {

inline constexpr char INFO_NAME[] = "info";
inline constexpr char INDEX_NAME[] = "index";
inline constexpr char INDEX_TEMP_NAME[] = "index.new";
inline constexpr char LOCK_NAME[] = "lock";
QString segmentName(uint32_t number);
// The segment number of a file name, absent for other names.
std::optional<uint32_t> segmentNumber(const QString &name);

uint32_t crc32(const void *data, std::size_t size, uint32_t start = 0);

// One frame record's header; the payload follows it.
struct RecordHeader {
    static constexpr std::size_t SIZE = 56;
    uint64_t id = 0;
    uint64_t refId = 0; // the frame a delta is decoded on; 0 for a key
    std::optional<int64_t> timestampUs; // capture time; absent for derived frames
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t payloadSize = 0;
    uint32_t payloadCrc = 0;
    bool opaque = false;
};
QByteArray encodeHeader(const RecordHeader &header);
// Absent when the magic or the header's own CRC does not match.
std::optional<RecordHeader> decodeHeader(const char *bytes);

// Where a checked record lies.
struct RecordLocation {
    RecordHeader header;
    uint32_t segment = 0;
    int64_t payloadOffset = 0;
};

struct SegmentScan {
    std::vector<RecordLocation> records;
    // A last record cut short (a write that a kill interrupted): expected,
    // never a problem.
    bool tornTail = false;
    // Damage found, one line each; scanning stops at a header that fails its
    // check, since the length of what follows is unknown.
    QStringList damage;
    std::optional<StoreError> error; // the file cannot be read at all
};
// Reads every header and, with `checkPayloads`, every payload's CRC.
SegmentScan scanSegment(const QString &path, uint32_t segment, bool checkPayloads);

// The index as stored: frame ids instead of handles.
struct StoredIndex {
    uint64_t generation = 0;
    int64_t loopCount = 0;
    int64_t fps = 0;
    int32_t canvasWidth = 0;
    int32_t canvasHeight = 0;
    std::vector<uint32_t> segments;
    std::vector<std::pair<uint64_t, int64_t>> frames; // id, delay in ms
};
QByteArray encodeIndex(const StoredIndex &index);
// Absent for bytes that fail the checks.
std::optional<StoredIndex> decodeIndex(const QByteArray &bytes);

QByteArray encodeInfo(const RecordingInfo &info);
std::optional<RecordingInfo> decodeInfo(const QByteArray &bytes);

// Writes `bytes` to folder/tempName, syncs it, renames it over folder/name and
// syncs the folder: afterwards the file is either the old or the new one
// whole, even after a power cut.
std::optional<StoreError> replaceDurably(
    const QString &folder, const QString &name, const QString &tempName, const QByteArray &bytes);

// Reads a whole small file; an error when it exists but cannot be read,
// absent bytes when it does not exist.
struct FileRead {
    std::optional<QByteArray> bytes;
    std::optional<StoreError> error;
};
FileRead readWhole(const QString &path);

// Takes the folder's lock without waiting: the descriptor, or -1 when another
// process holds it (or it cannot be made). The lock ends with the process.
int tryLock(const QString &folder);
// Whether some process holds the folder's lock now.
bool isLocked(const QString &folder);

StoreError errnoError(int code, const QString &what, const QString &path);

} // namespace RecordingFiles
