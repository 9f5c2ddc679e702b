#include "export/ExportSteps.h"

#include "export/ExportJob.h"

#include <QFileInfo>

namespace ExportSteps {

ExportResult cannotCreate(const QString &format, const QString &reason)
{
    return {false, QStringLiteral("Could not create %1 file. ").arg(format) + reason};
}

ExportResult cancelled()
{
    return {false, QString::fromLatin1(CANCELLED_MESSAGE)};
}

ExportResult toolFailed(const QString &prefix, const Tools::RunResult &run)
{
    if (run.cancelled)
        return cancelled();
    return {false, prefix + Tools::failureReason(run)};
}

ExportResult finish(PendingOutput &output, const QString &problem, const QString &prefix, const QString &success)
{
    if (!problem.isEmpty())
        return {false, prefix + problem + QLatin1Char('.')};
    if (!output.commit()) {
        return {false,
            QStringLiteral("Could not replace \u201c%1\u201d with the new file.")
                .arg(QFileInfo(output.destination()).fileName())};
    }
    return {true, success};
}

} // namespace ExportSteps
