#pragma once

#include "base/Geometry.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// The pieces of the recording self-test modes that are plain arithmetic and
// text, so tests can check them without running a mode (which ends the
// process).
namespace RecordSelfTests {

// 240 x 160 points, 60 points in from the top-left corner of `screen` (y-up
// global points).
Rect headlessRegion(const Rect &screen);

struct StopRaceOutcome {
    bool permission = false;
    int64_t startCalls = 0;
    int64_t liveStreams = 0;
    bool engineLeaked = false;

    bool passed() const { return startCalls == 0 && liveStreams == 0 && !engineLeaked; }
    // "STOPRACE permission=… startCalls=… liveStreams=… engineLeaked=… → PASS"
    QString line() const;
};

// Replaces whatever is at `path` (a link planted in the shared /tmp
// included) with a new file holding `bytes`: the name is removed first and
// the file created exclusively, so no link is ever followed. False when the
// file could not be written whole.
bool writeNewFile(const QString &path, const QByteArray &bytes);

inline const QString stopRacePath = QStringLiteral("/tmp/quillo-stoprace.txt");
inline const QString headlessGifPath = QStringLiteral("/tmp/quillo-headless.gif");

} // namespace RecordSelfTests
