#pragma once

#include <QString>
#include <QStringList>

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

namespace CommandLine {

// The options are tested in a fixed order and the first that some argument
// equals exactly wins; a combination of options still runs one mode.
LaunchChoice choose(const QStringList &arguments);

// True when any argument, the program's path included, begins with
// "--selftest", even one that is no option. Alerts are suppressed then.
bool isSelfTest(const QStringList &arguments);

// The option that selects `mode` ("--selftest-ops"); empty for Interactive.
QString optionName(LaunchMode mode);

} // namespace CommandLine
