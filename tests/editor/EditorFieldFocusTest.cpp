#include "EditorTestSupport.h"

#include "model/SelfTestProject.h"

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
