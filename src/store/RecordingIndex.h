#pragma once

#include "store/StoredFrame.h"

#include <QDateTime>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// What a recording folder keeps of the project: the frames in order with
// their delays, the loop count, the recording's frame rate and the canvas.
// Plain values; frames are handles of the store that wrote them.
struct RecordingIndex {
    struct Entry {
        FrameRef frame;
        int64_t delayMs = 0;
    };
    std::vector<Entry> entries;
    int64_t loopCount = 0;
    int64_t fps = 0;
    QSize canvas;
};

// What a recording folder says about the recording when it is created.
struct RecordingInfo {
    // The nominal rate: the last frame's delay, and every delay without
    // variableFrameRate, is 1000 / fps truncated.
    int64_t fps = 30;
    // Whether the delays of frames recovered without an index come from their
    // capture times (the capture engine's rule) or are all nominal.
    bool variableFrameRate = true;
    QDateTime created;
};

// A failure of the store that the caller must act on.
struct StoreError {
    enum class Kind {
        diskFull, // ENOSPC or EDQUOT: nothing more can be written
        unwritable, // the folder or a file cannot be created or written
        unreadable, // a file cannot be read back (I/O error, permissions)
        damaged, // a file's bytes fail their checks
        inUse, // another running Quillo holds the recording
    };
    Kind kind = Kind::unwritable;
    // One line for the log and the user, naming the folder or file.
    QString message;
};

// One recording found in the recordings folder.
struct RecordingSummary {
    QString folder;
    QDateTime created;
    // Frames of the saved index, or the captured frames when the recording
    // never got one (it was interrupted).
    int64_t frameCount = 0;
    QSize canvas;
    // Empty when the folder reads back cleanly; otherwise why it cannot be
    // recovered as it was (the folder is left alone).
    QString problem;
};
