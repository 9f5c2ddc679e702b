#include "app/AppDelegate.h"
#include "app/SelfTestModes.h"
#include "editor/EditorController.h"

#include <QTimer>

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

void runResizeSheet(AppDelegate &app)
{
    app.editor = std::make_shared<EditorController>(AppDelegate::makeSelfTestProject());
    for (const QString &line : app.editor->runResizeSheetRealTest())
        printLine(line);
    QTimer::singleShot(300, [] { exitProcess(0); });
}

void runResizeKeys(AppDelegate &app)
{
    app.openEditor(AppDelegate::makeSelfTestProject());
    QTimer::singleShot(500, &app, [&app] {
        if (app.editor) {
            for (const QString &line : app.editor->runResizeKeyRoutingTest())
                printLine(line);
        }
        exitProcess(0);
    });
}

void runZoom(AppDelegate &app)
{
    app.openEditor(AppDelegate::makeSelfTestProject());
    QTimer::singleShot(600, &app, [&app] {
        if (app.editor)
            app.editor->debugZoom(2);
    });
}

void runEditor(AppDelegate &app)
{
    app.openEditor(AppDelegate::makeSelfTestProject());
}

} // namespace SelfTestModes
