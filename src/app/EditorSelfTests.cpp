#include "app/AppDelegate.h"
#include "app/SelfTestModes.h"

// The editor's modes arrive with the editor.
namespace SelfTestModes {

void runOps(AppDelegate &)
{
    notAvailable(QStringLiteral("--selftest-ops"));
}

void runResizeField(AppDelegate &)
{
    notAvailable(QStringLiteral("--selftest-resizefield"));
}

void runResizeSheet(AppDelegate &)
{
    notAvailable(QStringLiteral("--selftest-resizesheet"));
}

void runResizeKeys(AppDelegate &)
{
    notAvailable(QStringLiteral("--selftest-resizekeys"));
}

void runZoom(AppDelegate &)
{
    notAvailable(QStringLiteral("--selftest-zoom"));
}

void runEditor(AppDelegate &)
{
    notAvailable(QStringLiteral("--selftest"));
}

} // namespace SelfTestModes
