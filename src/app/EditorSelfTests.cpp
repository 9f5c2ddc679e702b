#include "app/AppDelegate.h"
#include "app/SelfTestModes.h"
#include "editor/EditorController.h"

namespace SelfTestModes {

void runOps(AppDelegate &)
{
    // A controller of its own, never shown: the checks replace its frames.
    EditorController controller(AppDelegate::makeSelfTestProject());
    const QStringList lines = controller.runLogicSelfTest();
    qsizetype passed = 0;
    for (const QString &line : lines) {
        printLine(line);
        if (line.startsWith(QStringLiteral("PASS")))
            ++passed;
    }
    printLine(QStringLiteral("OPS: ") + QString::number(passed) + QLatin1Char('/') + QString::number(lines.size())
        + QStringLiteral(" passed"));
    exitProcess(passed == lines.size() ? 0 : 1);
}

void runResizeField(AppDelegate &)
{
    EditorController controller(AppDelegate::makeSelfTestProject());
    for (const QString &line : controller.runResizeFieldRealTest())
        printLine(line);
    exitProcess(0);
}

// The modes below arrive with the editor window.
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
