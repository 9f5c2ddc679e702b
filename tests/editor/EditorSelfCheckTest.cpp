#include "EditorTestSupport.h"

#include "model/SelfTestProject.h"

#include <gtest/gtest.h>

TEST(EditorSelfChecks, LogicChecksAllPassInOrder)
{
    EditorController c(makeSelfTestProject());
    const QStringList lines = c.runLogicSelfTest();
    ASSERT_EQ(lines.size(), 34);
    for (const QString &line : lines)
        EXPECT_TRUE(line.startsWith(QStringLiteral("PASS: "))) << line.toStdString();
    EXPECT_EQ(lines.front(), QStringLiteral("PASS: delete 3 of 10 → 7 left"));
    EXPECT_EQ(lines.back(), QStringLiteral("PASS: '1920/2' after empties → W=960,H=1920 (recovers)"));
}
