#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/NotificationCenter.h"
#include "tests/fakes/FakeMainLoop.h"

namespace orvan {
namespace {

using testing::FakeMainLoop;

TEST(NotificationCenterTest, DeliversObjectAndUserInfoOnTheMainLoopOnlyToObserversOfThatName) {
    FakeMainLoop loop;
    auto center = NotificationCenter::create(loop);
    std::vector<std::string> seen;
    auto reload = center->addObserver("officeReload", [&](const Notification& n) { seen.push_back("reload:" + n.name); });
    auto path = center->addObserver("officeOpenPath", [&](const Notification& n) {
        seen.push_back("path:" + std::any_cast<std::string>(n.object) + n.userInfo.dump());
    });

    center->post("officeOpenPath", std::string("/chat"), {{"frontOnly", true}});
    center->post("officeReload");
    EXPECT_TRUE(seen.empty()) << "observers must not run inside post()";
    loop.runUntilIdle();
    EXPECT_EQ(seen, (std::vector<std::string>{R"(path:/chat{"frontOnly":true})", "reload:officeReload"}));
}

TEST(NotificationCenterTest, DestroyingTheTokenRemovesTheObserverEvenWithDeliveryQueued) {
    FakeMainLoop loop;
    auto center = NotificationCenter::create(loop);
    int calls = 0;
    auto token = std::make_unique<ObserverToken>(center->addObserver("officeReload", [&](const Notification&) { ++calls; }));
    center->post("officeReload");
    token.reset();
    loop.runUntilIdle();
    center->post("officeReload");
    loop.runUntilIdle();
    EXPECT_EQ(calls, 0);
}

TEST(NotificationCenterTest, MovedTokenKeepsTheObserverAndATokenOutlivingTheCenterIsHarmless) {
    FakeMainLoop loop;
    auto center = NotificationCenter::create(loop);
    int calls = 0;
    ObserverToken kept;
    {
        ObserverToken first = center->addObserver("officeReload", [&](const Notification&) { ++calls; });
        kept = std::move(first);
    }
    center->post("officeReload");
    loop.runUntilIdle();
    EXPECT_EQ(calls, 1);
    center.reset();
    kept.reset();  // must not touch the freed center
    EXPECT_FALSE(kept);
}

}  // namespace
}  // namespace orvan
