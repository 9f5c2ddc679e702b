#include "app/AppDelegate.h"
#include "app/AppMenus.h"
#include "editor/EditorController.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QMainWindow>
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
        QString keys; // every shortcut, the one shown first
    };
    const auto items = [](QMenu *menu) {
        std::vector<Item> out;
        for (QAction *a : menu->actions()) {
            QStringList keys;
            for (const QKeySequence &key : a->shortcuts())
                keys << key.toString();
            out.push_back({a->isSeparator() ? QString() : a->text(), keys.join(QStringLiteral(" | "))});
        }
        return out;
    };
    const std::vector<std::pair<QMenu *, std::vector<Item>>> expected = {
        {menus.file,
            {{"New Recording", "Ctrl+N | Ctrl+W"}, {"", ""}, {QStringLiteral("Export GIF\u2026"), "Ctrl+S"},
                {QStringLiteral("Export MP4\u2026"), ""}, {QStringLiteral("Export WebP\u2026"), ""},
                {QStringLiteral("Export APNG\u2026"), ""}, {QStringLiteral("Export WebM\u2026"), ""}, {"", ""},
                {"Quit", "Ctrl+Q"}}},
        {menus.edit,
            {{"Undo", "Ctrl+Z"}, {"Redo", "Ctrl+Shift+Z | Ctrl+Y"}, {"", ""}, {"Select All", "Ctrl+A"},
                {"Delete", "Del"}}},
        {menus.view, {{"Fit", ""}, {"50%", ""}, {"100%", ""}, {"200%", ""}}},
        {menus.help, {{"About Quillo", ""}}},
    };
    ASSERT_EQ(menus.all().size(), 4);
    EXPECT_EQ(menus.file->title(), QStringLiteral("&File"));
    EXPECT_EQ(menus.edit->title(), QStringLiteral("&Edit"));
    EXPECT_EQ(menus.view->title(), QStringLiteral("&View"));
    EXPECT_EQ(menus.help->title(), QStringLiteral("&Help"));
    for (const auto &[menu, want] : expected) {
        const std::vector<Item> got = items(menu);
        ASSERT_EQ(got.size(), want.size()) << menu->title().toStdString();
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].title, want[i].title);
            EXPECT_EQ(got[i].keys, want[i].keys) << got[i].title.toStdString();
        }
    }
    // The zoom choices are exclusive and start at "Fit".
    EXPECT_TRUE(menus.zoomGroup->isExclusive());
    EXPECT_EQ(menus.zoomGroup->checkedAction(), menus.zoom[0]);
    for (QMenu *menu : menus.all())
        delete menu;
}

TEST(AppMenus, AboutGivesTheVersionAndTheLicence)
{
    QCoreApplication::setApplicationVersion(QStringLiteral("9.8.7"));
    const QString text = aboutText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Quillo 9.8.7\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("GPL-3.0-or-later"))) << text.toStdString();
}

TEST(AppMenus, ViewMenuSetsTheEditorsZoomAndFollowsItsPopup)
{
    AppDelegate delegate({QStringLiteral("quillo")});
    delegate.applicationDidFinishLaunching();
    delegate.openEditor(AppDelegate::makeSelfTestProject());
    ASSERT_TRUE(delegate.editor);
    const AppMenus &menus = delegate.menus();
    menus.zoom[3]->trigger();
    EXPECT_EQ(delegate.editor->zoomPopup()->currentIndex(), 3);
    delegate.editor->zoomPopup()->setCurrentIndex(1);
    EXPECT_TRUE(menus.zoom[1]->isChecked());
    EXPECT_FALSE(menus.zoom[3]->isChecked());

    // Edit menu commands reach the frames when no field is being edited.
    const size_t frames = delegate.editor->project()->frames.size();
    menus.deleteFrames->trigger();
    EXPECT_EQ(delegate.editor->project()->frames.size(), frames - 1);
    menus.undo->trigger();
    EXPECT_EQ(delegate.editor->project()->frames.size(), frames);
    menus.redo->trigger();
    EXPECT_EQ(delegate.editor->project()->frames.size(), frames - 1);
    delegate.editor->window()->close();
}

TEST(AppDelegate, ExportMenuWithNoEditorDoesNothing)
{
    AppDelegate delegate({QStringLiteral("quillo")});
    delegate.menuExportGIF();
    EXPECT_EQ(delegate.editor, nullptr);
}
