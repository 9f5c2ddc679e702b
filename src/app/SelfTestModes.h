#pragma once

#include <QString>

class AppDelegate;

// The command-line self-test modes. Each runs one scripted scenario against the
// real code, prints one line per finding on standard output and ends the
// process with a status a script can test (or keeps running, where the mode
// says so). GUI thread only.
namespace SelfTestModes {

// ExportSelfTests.cpp
void runExport(AppDelegate &app, const QString &basePath);
void runLoop(AppDelegate &app);
void runQualityMatrix(AppDelegate &app);

// EditorSelfTests.cpp
void runOps(AppDelegate &app);
void runResizeField(AppDelegate &app);
void runResizeSheet(AppDelegate &app);
void runResizeKeys(AppDelegate &app);
void runZoom(AppDelegate &app);
void runEditor(AppDelegate &app);

// RecordSelfTests.cpp
void runRecord(AppDelegate &app);
void runClose(AppDelegate &app);
void runStopRace(AppDelegate &app);

// One line on standard output, flushed at once.
void printLine(const QString &line);
// Ends the process with `status` after the log and standard output are
// flushed, without running the application's shutdown.
[[noreturn]] void exitProcess(int status);

} // namespace SelfTestModes
