#pragma once

#include <QString>

// What every export path returns; none throws. The message is one line for
// the user: a summary on success, the reason on failure.
struct ExportResult {
    bool ok = false;
    QString message;
};
