#include <gtest/gtest.h>

#include <set>

#include "app/GoMenu.h"
#include "tests/fakes/FakeMainLoop.h"

namespace orvan {
namespace {

using testing::FakeMainLoop;

TEST(GoMenuTest, ShortcutsAreOneToSevenAndTheLastThreeHaveNone) {
    const auto& items = GoMenu::items();
    ASSERT_EQ(items.size(), 10u);
    std::set<char> keys;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i < 7) {
            ASSERT_TRUE(items[i].key);
            EXPECT_EQ(*items[i].key, static_cast<char>('1' + i));
        } else {
            EXPECT_FALSE(items[i].key) << items[i].path;
        }
        EXPECT_EQ(items[i].path.front(), '/');
    }
    EXPECT_EQ(items[4].path, "/meeting-notes");
    EXPECT_EQ(items[4].label, "議事録");
    EXPECT_TRUE(GoMenu::startsGroup(4));
    EXPECT_TRUE(GoMenu::startsGroup(7));
    EXPECT_FALSE(GoMenu::startsGroup(5));
}

TEST(GoMenuTest, CommandsPostTheirNotifications) {
    FakeMainLoop loop;
    auto center = NotificationCenter::create(loop);
    std::vector<Notification> seen;
    std::vector<ObserverToken> tokens;
    for (const char* name : {"officeOpenPath", "officeEvaluate", "officeReload"}) {
        tokens.push_back(center->addObserver(name, [&](const Notification& n) { seen.push_back(n); }));
    }
    const GoMenu menu(center);
    menu.open(4);
    menu.open(99);  // out of range: nothing
    menu.collapseSidebar();
    menu.reload();
    loop.runUntilIdle();

    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].name, "officeOpenPath");
    EXPECT_EQ(std::any_cast<std::string>(seen[0].object), "/meeting-notes");
    EXPECT_EQ(seen[1].name, "officeEvaluate");
    EXPECT_EQ(std::any_cast<std::string>(seen[1].object),
              "window.dispatchEvent(new CustomEvent('toggle-sidebar-rail'))");
    EXPECT_EQ(seen[1].userInfo, (nlohmann::json{{"frontOnly", true}}));
    EXPECT_EQ(seen[2].name, "officeReload");
    EXPECT_FALSE(seen[2].object.has_value());
}

}  // namespace
}  // namespace orvan
