#include "EditorTestSupport.h"

#include "model/SelfTestProject.h"
#include "support/TestUtil.h"

#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QStandardPaths>

#include <gtest/gtest.h>

// A real window on a real X server: the commit must come from the focus
// moving from the width field to the height field.
TEST(EditorFieldFocus, TabbingOutOfTheWidthFieldCommitsIt)
{
    EditorController c(makeSelfTestProject());
    const QStringList lines = c.runResizeFieldRealTest();
    EXPECT_EQ(lines,
        (QStringList {QStringLiteral("type '1920/2' in W, tab to H → W=960 H=480  (expect W=960 H=480)"),
            QStringLiteral("type '435' in W, tab to H → W=435 H=218  (expect W=435 H~217)")}));

    // The check's window and fields are gone; the sheet still gets its own.
    c.openResize();
    ASSERT_TRUE(c.resizeSheet());
    EXPECT_EQ(c.resizeWidth()->text(), QStringLiteral("320"));
    c.closeResize();
}

// On a bare X server nothing hands the focus back when a sheet closes: the
// editor must take it, or its menu shortcuts stay dead until a click.
TEST(EditorSheetFocus, ClosingASheetGivesTheKeysBackToTheEditor)
{
    QStandardPaths::setTestModeEnabled(true);
    EditorController c(makeProject(3));
    c.show();
    ASSERT_TRUE(waitUntil([&] { return c.window()->isActiveWindow(); }));

    c.openResize();
    ASSERT_TRUE(waitUntil([&] { return c.resizeSheet() && c.resizeSheet()->isActiveWindow(); }));
    c.closeResize();
    EXPECT_TRUE(waitUntil([&] { return c.window()->isActiveWindow(); }));

    c.exportGIF();
    ASSERT_TRUE(waitUntil([&] { return c.saveDialog() && c.saveDialog()->isActiveWindow(); }));
    c.saveDialog()->reject();
    EXPECT_TRUE(waitUntil([&] { return c.window()->isActiveWindow(); }));
    QStandardPaths::setTestModeEnabled(false);
}
