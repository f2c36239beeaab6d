#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/SerialQueue.h"
#include "tests/fakes/CapturingLogSink.h"
#include "tests/fakes/ManualClock.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
using orvan::testing::ManualClock;

class SerialQueueTest : public ::testing::Test {
protected:
    // Moves the clock and lets the queue run whatever fell due.
    void advance(Clock::Time by) {
        clock->advance(by);
        queue.sync([] {});
    }

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    SerialQueue queue{"test.queue", clock};
};

TEST_F(SerialQueueTest, WorkRunsInOrderOnOneThreadThatIsNotTheCaller) {
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 50; ++i) {
        queue.async([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        });
    }
    queue.sync([] {});
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    for (const auto& id : threads) EXPECT_EQ(id, threads.front());
    EXPECT_NE(threads.front(), std::this_thread::get_id());
}

TEST_F(SerialQueueTest, SyncAnswersAValueRethrowsAndRunsInlineOnTheQueue) {
    EXPECT_EQ(queue.sync([] { return 42; }), 42);
    EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
    // A nested sync would wait for itself forever; it runs at once instead.
    const int nested = queue.sync([this] {
        EXPECT_TRUE(queue.isCurrent());
        return queue.sync([] { return 7; }) + 1;
    });
    EXPECT_EQ(nested, 8);
    EXPECT_FALSE(queue.isCurrent());
}

TEST_F(SerialQueueTest, RepeatingTimerKeepsAFixedGridCollapsesMissedRunsAndCancelStopsIt) {
    std::vector<Clock::Time> fired;
    const Clock::Time start = clock->now();
    auto timer = queue.scheduleRepeating(300s, 300s, [&] { fired.push_back(clock->now() - start); });
    advance(299s);
    EXPECT_TRUE(fired.empty());
    advance(1s);
    // Late by 10 s: the next run still falls on 600 s.
    advance(310s);
    advance(290s);
    // Three periods missed: one run, and the grid goes on.
    advance(1000s);
    advance(200s);
    EXPECT_EQ(fired, (std::vector<Clock::Time>{300s, 610s, 900s, 1900s, 2100s}));
    timer->cancel();
    advance(600s);
    EXPECT_EQ(fired.size(), 5u);
}

TEST_F(SerialQueueTest, ATimerHandlerThatThrowsIsLoggedAndTheTimerGoesOn) {
    auto log = orvan::testing::CapturingLogSink::install();
    int fired = 0;
    auto timer = queue.scheduleRepeating(10s, 10s, [&] {
        ++fired;
        throw std::filesystem::filesystem_error("cannot list", std::make_error_code(std::errc::io_error));
    });
    advance(10s);
    advance(10s);
    timer->cancel();
    setLogSink(nullptr);
    EXPECT_EQ(fired, 2);
    ASSERT_EQ(log->lines().size(), 2u);
    EXPECT_NE(log->lines()[0].find("test.queue: "), std::string::npos);
}

// The real clock's waiting is used by every sound test; here no test waits on it.
TEST(SerialQueueLifetimeTest, DestructionRunsWorkStillQueued) {
    std::atomic<int> ran = 0;
    {
        SerialQueue queue("test.lifetime", std::make_shared<ManualClock>());
        auto timer = queue.scheduleRepeating(5s, 5s, [] {});
        for (int i = 0; i < 10; ++i) queue.async([&] { ++ran; });
    }
    EXPECT_EQ(ran.load(), 10);
}

}  // namespace
}  // namespace orvan
