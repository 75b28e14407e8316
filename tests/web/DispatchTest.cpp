// The main queue keeps order across threads and delays on the monotonic
// clock; the global queue grows so blocked items never starve the others.

#include "platform/Dispatch.hpp"
#include "tests/support/RecordingWebView.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace dispatch = platform::dispatch;

TEST(MainQueue, RunsItemsInSubmissionOrderOnTheMainThread) {
    const auto mainThread = std::this_thread::get_id();
    std::vector<int> order;
    bool offMain = false;
    for (int i = 0; i < 100; ++i)
        dispatch::mainAsync([&, i] {
            order.push_back(i);
            offMain |= std::this_thread::get_id() != mainThread;
        });
    // Items queued from another thread land after those queued before them.
    std::thread([&] { dispatch::mainAsync([&] { order.push_back(100); }); }).join();
    ASSERT_TRUE(vesko::testing::runMainUntil([&] { return order.size() == 101; }));
    for (int i = 0; i <= 100; ++i) EXPECT_EQ(order[i], i);
    EXPECT_FALSE(offMain);
}

TEST(MainQueue, ItemsQueuedWhileDrainingRunToo) {
    std::vector<int> order;
    dispatch::mainAsync([&] {
        order.push_back(1);
        dispatch::mainAsync([&] { order.push_back(3); });
    });
    dispatch::mainAsync([&] { order.push_back(2); });
    ASSERT_TRUE(vesko::testing::runMainUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector{1, 2, 3}));
    EXPECT_TRUE(dispatch::mainQueueIdle());
}

TEST(MainQueue, DelayedItemsRunInDeadlineOrderAfterTheirDelay) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::vector<std::pair<int, double>> ran;
    auto note = [&](int id) { ran.emplace_back(id, std::chrono::duration<double>(Clock::now() - start).count()); };
    dispatch::mainAfter(std::chrono::milliseconds(300), [&] { note(300); });
    dispatch::mainAfter(std::chrono::milliseconds(100), [&] { note(100); });
    dispatch::mainAsync([&] { note(0); });
    ASSERT_TRUE(vesko::testing::runMainUntil([&] { return ran.size() == 3; }));
    EXPECT_EQ(ran[0].first, 0);
    EXPECT_EQ(ran[1].first, 100);
    EXPECT_EQ(ran[2].first, 300);
    EXPECT_GE(ran[1].second, 0.099);
    EXPECT_GE(ran[2].second, 0.299);
    EXPECT_LT(ran[2].second, 1.0);
}

TEST(MainQueue, RunUntilGivesUpAfterItsTimeout) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(dispatch::runMainUntil([] { return false; }, std::chrono::milliseconds(50)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(GlobalQueue, BlockedItemsDoNotStarveTheOthers) {
    // Every item waits until all of them have started: this only finishes if
    // the queue runs them all at once, whatever the number of cores.
    constexpr int kItems = 24;
    std::mutex mutex;
    std::condition_variable allStarted;
    int started = 0;
    std::atomic<int> finished = 0;
    for (int i = 0; i < kItems; ++i) {
        dispatch::globalAsync([&] {
            std::unique_lock lock(mutex);
            if (++started == kItems) allStarted.notify_all();
            allStarted.wait_for(lock, std::chrono::seconds(10), [&] { return started == kItems; });
            ++finished;
        });
    }
    ASSERT_TRUE(vesko::testing::runMainUntil([&] { return finished == kItems; }, 10000));
    std::lock_guard lock(mutex);
    EXPECT_EQ(started, kItems);
    EXPECT_GE(dispatch::globalWorkerCount(), kItems);
}

TEST(GlobalQueue, IdleWorkersAreReused) {
    // Items submitted one after another, each finished before the next, need
    // no new threads once a worker is waiting.
    std::atomic<int> done = 0;
    dispatch::globalAsync([&] { ++done; });
    ASSERT_TRUE(vesko::testing::runMainUntil([&] { return done == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int before = dispatch::globalWorkerCount();
    for (int i = 2; i <= 50; ++i) {
        dispatch::globalAsync([&] { ++done; });
        ASSERT_TRUE(vesko::testing::runMainUntil([&] { return done == i; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_LE(dispatch::globalWorkerCount(), before + 1);
}
