#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "plugin/KestrinPlugin.h"
#include "tests/fakes/FakeMainLoop.h"
#include "tests/fakes/FakeMeetingSources.h"
#include "tests/fakes/ManualClock.h"

namespace orvan {
namespace {

using namespace orvan::testing;
using namespace std::chrono_literals;

class MeetingWatchTest : public ::testing::Test {
protected:
    std::unique_ptr<KestrinPlugin> makePlugin() {
        KestrinPlugin::Dependencies deps;
        deps.applicationId = "jp.tomoriva.OrvanOffice";
        deps.clock = clock;
        deps.meetingSources = {processes, nullptr, nullptr, clock, 1};
        deps.mainLoop = mainLoop;
        return std::make_unique<KestrinPlugin>(std::move(deps));
    }
    // The pass runs on the watch queue; its result arrives as one main-loop task.
    void awaitPass() {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (mainLoop->pending() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        ASSERT_EQ(mainLoop->pending(), 1u);
    }

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<FakeMainLoop> mainLoop = std::make_shared<FakeMainLoop>();
    std::shared_ptr<FakeRunningProcesses> processes = std::make_shared<FakeRunningProcesses>();
    std::vector<std::string> events;
};

TEST_F(MeetingWatchTest, FirstPassAtOnceThenEveryIntervalToTheFirstHandlerOnly) {
    auto plugin = makePlugin();
    processes->set({{5, 1, "CptHost", ""}});
    plugin->startMeetingWatch([this](const std::string& event, const std::optional<std::string>& label) {
        events.push_back(event + ":" + label.value_or("-"));
    });
    plugin->startMeetingWatch([this](const std::string&, const std::optional<std::string>&) { events.push_back("second"); });
    awaitPass();
    mainLoop->runUntilIdle();
    EXPECT_EQ(events, std::vector<std::string>{"started:Zoom"});

    processes->set({});
    for (int pass = 0; pass < 3; ++pass) {
        clock->advance(10s);
        awaitPass();
        mainLoop->runUntilIdle();
    }
    EXPECT_EQ(events, (std::vector<std::string>{"started:Zoom", "ended:-"}));

    // A result that arrives after the plug-in is gone is dropped.
    processes->set({{5, 1, "CptHost", ""}});
    clock->advance(10s);
    awaitPass();
    plugin.reset();
    mainLoop->runUntilIdle();
    EXPECT_EQ(events.size(), 2u);
}

}  // namespace
}  // namespace orvan
