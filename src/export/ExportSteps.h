#pragma once

#include "export/ExportResult.h"
#include "export/PendingOutput.h"
#include "export/Tools.h"

#include <QString>

// The steps every export path ends with, so that they all fail, cancel and
// succeed alike.
namespace ExportSteps {

// "Could not create GIF file." (or MP4), then why.
ExportResult cannotCreate(const QString &format, const QString &reason);

// "Export cancelled."
ExportResult cancelled();

// A tool's failed run: `prefix` and the reason (its standard error, or how it
// ended), or the cancel.
ExportResult toolFailed(const QString &prefix, const Tools::RunResult &run);

// Replaces the destination with what `output` holds unless `problem` says
// what is wrong with it: `success`, or `prefix` + problem + ".".
ExportResult finish(PendingOutput &output, const QString &problem, const QString &prefix, const QString &success);

} // namespace ExportSteps
