#pragma once

#include "store/RecordingIndex.h"
#include "store/StoredFrame.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

// The pixels of one recording, compressed losslessly in a folder on disk so
// that memory grows with the compressed size, not with the frame count, and
// the recording survives a crash.
//
// Folder (under Recordings::root()):
//   info        created time, fps, frame-rate mode (text, written once)
//   frames-N    append-only records, one per frame: a checked header and the
//               FrameCodec payload. N counts the sessions that wrote to the
//               folder; a reopened recording writes a new file and never
//               rewrites an old one.
//   index       the project (order, delays, loop count, fps, canvas, files),
//               replaced whole by write-new, fsync, rename after every edit
//   lock        held with flock() while a store has the folder open
//
// Frames go in on the caller's thread without a copy or a conversion for
// Format_RGB32 and Format_ARGB32_Premultiplied; comparison and compression run
// on a small pool, and records are written in the order the frames came, so
// the folder always holds a gapless prefix of a recording. Decoded frames are
// kept in a cache bounded by a byte budget.
//
// Thread rules: append() from one thread at a time (the capture queue);
// everything else from any thread. onError is called on the thread that met
// the failure (the store's writer, or one reading a frame), once.
class FrameStore : public std::enable_shared_from_this<FrameStore> {
public:
    struct Options {
        // Where the recording folder is made; empty for Recordings::root().
        QString root;
        // The decoded cache's budget; 0 for defaultCacheBudget().
        int64_t cacheBytes = 0;
        // Compression threads; 0 for min(2, cores).
        int threads = 0;
        // Raw pixel bytes appended but not yet compressed beyond which
        // append() waits: the memory ceiling while compression lags behind.
        int64_t maxPendingBytes = int64_t(256) << 20;
    };

    struct Created {
        std::shared_ptr<FrameStore> store;
        std::optional<StoreError> error;
    };
    // Makes a new recording folder.
    static Created create(const RecordingInfo &info, const Options &options);

    struct Opened {
        std::shared_ptr<FrameStore> store;
        RecordingInfo info;
        // The project as after its last completed edit; for a recording that
        // was interrupted before it got an index, its captured frames in order
        // with delays from their capture times.
        RecordingIndex index;
        // True when `index` is exactly that; false when something was damaged
        // and `problems` says what was left out or guessed.
        bool exact = true;
        QStringList problems;
        // Set when nothing could be opened; the folder is left as it was.
        std::optional<StoreError> error;
    };
    // Opens an existing folder to go on with it: new frames go to a new file.
    static Opened open(const QString &folder, const Options &options);

    ~FrameStore();
    FrameStore(const FrameStore &) = delete;
    FrameStore &operator=(const FrameStore &) = delete;

    // The largest decoded cache a machine gets by default: an eighth of its
    // physical memory, between 64 MB and 1 GB.
    static int64_t defaultCacheBudget();
    // The user's setting "frameCacheMegabytes" in bytes when it is a positive
    // whole number, else defaultCacheBudget(). GUI thread (it reads the
    // settings file).
    static int64_t cacheBudgetSetting();
    void setCacheBudget(int64_t bytes);
    int64_t cacheBudget() const;

    const QString &folder() const { return m_folder; }

    // Keeps a frame; returns at once (it waits only while more than
    // maxPendingBytes wait for compression). `timestampSeconds` is the
    // capture time used for the delays of a recovered recording. Null once
    // the store has failed (error()) or for a null image. The frame can be
    // read at once.
    FrameRef append(const QImage &image, std::optional<double> timestampSeconds = std::nullopt);

    // Saves the project as the folder's index once every frame it names is on
    // disk. Returns at once; a later save replaces one still waiting.
    // Frames of other stores or held in memory are appended first.
    void saveIndex(const RecordingIndex &index);

    // Blocks until every frame appended and index saved so far is on disk
    // (and synced), or the store has failed. Returns the failure.
    std::optional<StoreError> waitForWrites();

    // Applies `op` to every frame's picture on every core and keeps the
    // results as new frames, in the same order. `progress(done, total)` is
    // called from worker threads; returning false cancels, and then the
    // result is absent. Absent too when the store fails meanwhile (error()).
    std::optional<FrameRefList> transformAll(const FrameRefList &frames,
        const std::function<QImage(const QImage &)> &op,
        const std::function<bool(int64_t done, int64_t total)> &progress = {});

    // The first failure, once there is one; the store then keeps no more.
    std::optional<StoreError> error() const;
    std::function<void(const StoreError &)> onError;

    // Removes the recording folder at once (after an export, a discard or a
    // new recording); frames already handed out stay readable until released.
    // Nothing more is written.
    void discard();

    struct Stats {
        int64_t framesAppended = 0;
        int64_t framesWritten = 0;
        int64_t keyFrames = 0;
        // Record bytes on disk, headers included.
        int64_t bytesWritten = 0;
        int64_t cachedBytes = 0;
    };
    Stats stats() const;

    // Decodes frame `id`; used by StoredFrame::image().
    QImage decode(uint64_t id);

    struct Impl;

private:
    explicit FrameStore(QString folder);
    const QString m_folder;
    std::unique_ptr<Impl> d;
};
