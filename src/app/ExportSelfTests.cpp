#include "app/AppDelegate.h"
#include "app/SelfTestModes.h"

// The export modes arrive with the export layer.
namespace SelfTestModes {

void runExport(AppDelegate &, const QString &)
{
    notAvailable(QStringLiteral("--selftest-export"));
}

void runLoop(AppDelegate &)
{
    notAvailable(QStringLiteral("--selftest-loop"));
}

void runQualityMatrix(AppDelegate &)
{
    notAvailable(QStringLiteral("--selftest-qualitymatrix"));
}

} // namespace SelfTestModes
