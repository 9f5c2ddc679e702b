#pragma once

#include "export/GifEncoder.h"
#include "export/GifQuality.h"

#include <QRect>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// What the program does at launch, chosen from its arguments.
enum class LaunchMode {
    ExportSelfTest, // --selftest-export [base path]
    RecordSelfTest, // --selftest-record
    OpsSelfTest, // --selftest-ops
    LoopSelfTest, // --selftest-loop
    QualityMatrix, // --selftest-qualitymatrix
    CloseSelfTest, // --selftest-close
    StopRaceSelfTest, // --selftest-stoprace
    ResizeField, // --selftest-resizefield
    ResizeSheet, // --selftest-resizesheet
    ResizeKeys, // --selftest-resizekeys
    Zoom, // --selftest-zoom
    EditorSelfTest, // --selftest
    Interactive, // none of the above: the recording frame
};

struct LaunchChoice {
    LaunchMode mode = LaunchMode::Interactive;
    // Only for ExportSelfTest: where the three files go, before their suffixes.
    QString exportBasePath;
};

// `quillo --record ...`: one recording without the frame or the editor.
struct RecordRequest {
    // In X root-window pixels, origin at the top-left, as xwininfo and
    // `import -crop` give them.
    QRect region;
    double durationSeconds = 0;
    int64_t fps = 15;
    // Absent: the program's default encoder, searched when the export runs.
    std::optional<GifEncoder> encoder;
    GifQuality quality = GifQuality::high;
    // Plays of the GIF, 0 = forever.
    int64_t loopCount = 0;
    // Wait before the recording starts.
    double delaySeconds = 0;
    QString output;
    // Chosen by the output's extension: ".mp4" writes a video, ".gif" a GIF.
    bool mp4 = false;
};

struct ParsedCommandLine {
    enum class Action {
        Run, // go on: a self-test, a scripted recording or the recording frame
        Help, // print usage() on standard output, exit 0
        Version, // print versionText() on standard output, exit 0
        UsageError, // print `error` and usage() on standard error, exit 2
    };
    Action action = Action::Run;
    QString error;
    std::optional<RecordRequest> record;
};

namespace CommandLine {

// Reads the whole command line (the program's path first) without a
// QCoreApplication, so that --help, --version and mistakes are answered
// before anything connects to a display. Arguments that begin with
// "--selftest" (and the base path after "--selftest-export") are left to
// choose(); Qt's own options (-platform, -style, ...) are accepted and left
// to QApplication.
ParsedCommandLine parse(const QStringList &arguments);

// The text --help prints, also shown after a usage error.
QString usage();
// "quillo 0.1.0".
QString versionText();

// The options are tested in a fixed order and the first that some argument
// equals exactly wins; a combination of options still runs one mode.
LaunchChoice choose(const QStringList &arguments);

// True when any argument, the program's path included, begins with
// "--selftest", even one that is no option. Alerts are suppressed then.
bool isSelfTest(const QStringList &arguments);

// The option that selects `mode` ("--selftest-ops"); empty for Interactive.
QString optionName(LaunchMode mode);

} // namespace CommandLine
