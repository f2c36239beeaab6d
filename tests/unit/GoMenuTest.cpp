#include <gtest/gtest.h>

#include "app/GoMenu.h"
#include "tests/fakes/FakeMainLoop.h"

namespace orvan {
namespace {

using testing::FakeMainLoop;

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
