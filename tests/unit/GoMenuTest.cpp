#include <gtest/gtest.h>

#include "app/GoMenu.h"
#include "tests/fakes/FakeMainLoop.h"

namespace orvan {
namespace {

TEST(GoMenuTest, AnEntryOutOfRangePostsNothingAndTheOthersPostTheirNotification) {
    testing::FakeMainLoop loop;
    auto center = NotificationCenter::create(loop);
    std::vector<std::string> seen;
    std::vector<ObserverToken> tokens;
    for (const char* name : {"officeOpenPath", "officeEvaluate", "officeReload"})
        tokens.push_back(center->addObserver(name, [&](const Notification& n) { seen.push_back(n.name); }));
    const GoMenu menu(center);
    menu.open(99);
    menu.open(4);
    menu.collapseSidebar();
    menu.reload();
    loop.runUntilIdle();
    EXPECT_EQ(seen, (std::vector<std::string>{"officeOpenPath", "officeEvaluate", "officeReload"}));
}

}  // namespace
}  // namespace orvan
