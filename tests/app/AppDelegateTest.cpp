#include "app/AppDelegate.h"
#include "app/AppMenus.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

TEST(AppDelegate, CentresTheFirstRegionOnTheMainScreen)
{
    EXPECT_EQ(AppDelegate::initialRect(Rect {0, 0, 1440, 900}), (Rect {400, 240, 640, 420}));
    EXPECT_EQ(AppDelegate::initialRect(std::nullopt), (Rect {400, 240, 640, 420}));
    EXPECT_EQ(AppDelegate::initialRect(Rect {0, 0, 1920, 1080}), (Rect {640, 330, 640, 420}));
    EXPECT_EQ(AppDelegate::initialRect(Rect {0, 0, 601, 400}), (Rect {-19.5, -10, 640, 420}));
}

TEST(AppMenus, HaveTheItemsTitlesAndShortcutsInOrder)
{
    const AppMenus menus = buildAppMenus();
    struct Item {
        QString title; // empty: a separator
        QString key;
    };
    const auto items = [](QMenu *menu) {
        std::vector<Item> out;
        for (QAction *a : menu->actions())
            out.push_back({a->isSeparator() ? QString() : a->text(), a->shortcut().toString()});
        return out;
    };
    const std::vector<std::pair<QMenu *, std::vector<Item>>> expected = {
        {menus.application, {{"About Quillo", ""}, {"", ""}, {"Hide Quillo", "Ctrl+H"}, {"Quit Quillo", "Ctrl+Q"}}},
        {menus.file, {{QStringLiteral("Export GIF\u2026"), "Ctrl+S"}, {"", ""}, {"Close", "Ctrl+W"}}},
        {menus.edit,
            {{"Undo", "Ctrl+Z"}, {"", ""}, {"Cut", "Ctrl+X"}, {"Copy", "Ctrl+C"}, {"Paste", "Ctrl+V"},
                {"Select All", "Ctrl+A"}}},
        {menus.window, {{"Minimize", "Ctrl+M"}, {"Zoom", ""}}},
    };
    ASSERT_EQ(menus.all().size(), 4);
    EXPECT_EQ(menus.file->title(), QStringLiteral("File"));
    EXPECT_EQ(menus.edit->title(), QStringLiteral("Edit"));
    EXPECT_EQ(menus.window->title(), QStringLiteral("Window"));
    for (const auto &[menu, want] : expected) {
        const std::vector<Item> got = items(menu);
        ASSERT_EQ(got.size(), want.size()) << menu->title().toStdString();
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].title, want[i].title);
            EXPECT_EQ(got[i].key, want[i].key) << got[i].title.toStdString();
        }
    }
    for (QMenu *menu : menus.all())
        delete menu;
}

TEST(AppDelegate, ExportMenuWithNoEditorDoesNothing)
{
    AppDelegate delegate({QStringLiteral("quillo")});
    delegate.menuExportGIF();
    EXPECT_EQ(delegate.editor, nullptr);
}
