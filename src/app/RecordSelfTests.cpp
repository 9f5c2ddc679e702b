#include "app/AppDelegate.h"
#include "app/SelfTestModes.h"

// The recording modes arrive with the recording frame and the capture engine.
namespace SelfTestModes {

void runRecord(AppDelegate &)
{
    notAvailable(QStringLiteral("--selftest-record"));
}

void runClose(AppDelegate &)
{
    notAvailable(QStringLiteral("--selftest-close"));
}

void runStopRace(AppDelegate &)
{
    notAvailable(QStringLiteral("--selftest-stoprace"));
}

} // namespace SelfTestModes
