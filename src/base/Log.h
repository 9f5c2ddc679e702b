#pragma once

#include <QString>

// The program's one diagnostic channel. Each line goes at once to the system
// log ("Quillo: " + message, through qInfo) and, a moment later, to the log
// file, which holds the story of the latest recording or editing run.
//
// Every function here is thread-safe. File work runs on one serial queue
// ("org.quillo.Quillo.log") in submission order, so a reset() followed by
// writes leaves exactly those lines. Failures are swallowed: the log never
// stops the program.
namespace Log {

// $XDG_STATE_HOME/Quillo/Quillo.log (default ~/.local/state/Quillo/Quillo.log).
// Computed once, on first use; the folder is created then.
QString path();

void write(const QString &message);
// Empties the file (creating it when missing).
void reset();
// Waits until every write and reset submitted so far has reached the file.
// For tests and for self-test modes that exit the process right after.
void flush();

} // namespace Log
