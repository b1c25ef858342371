// The notification thread on its own: order, waiting, stale steps, restart.
#include "telsim/notifier.h"

#include <atomic>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Clock = telsim::Notifier::Clock;
using std::chrono::milliseconds;

TEST(Notifier, RunsByDueTimeThenByPosting) {
    telsim::Notifier notifier;
    std::mutex mu;
    std::vector<int> order;
    auto note = [&](int n) {
        return [&, n] {
            std::lock_guard<std::mutex> lock(mu);
            order.push_back(n);
        };
    };
    const auto now = Clock::now();
    notifier.Post(now + milliseconds(40), note(3));
    notifier.Post(now + milliseconds(10), note(1));
    notifier.Post(now + milliseconds(10), note(2));
    notifier.WaitIdle();
    EXPECT_EQ((std::vector<int>{1, 2, 3}), order);
    EXPECT_TRUE(notifier.Idle());
}

TEST(Notifier, StaleTaskIsDroppedWithoutWaitingForIt) {
    telsim::Notifier notifier;
    std::atomic<bool> stale{false};
    std::atomic<int> ran{0};
    notifier.Post(
        Clock::now() + std::chrono::seconds(30), [&] { ++ran; }, [&] { return stale.load(); });
    stale = true;
    // A later post wakes the thread, which then finds the first task stale.
    notifier.Post(Clock::now(), [] {});
    const auto start = Clock::now();
    notifier.WaitIdle();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(0, ran.load());
}

TEST(Notifier, StopDropsWhatIsQueuedAndPostStartsAgain) {
    telsim::Notifier notifier;
    std::atomic<int> ran{0};
    notifier.Post(Clock::now() + std::chrono::seconds(30), [&] { ++ran; });
    notifier.Stop();
    EXPECT_EQ(0, ran.load());
    notifier.Post(Clock::now(), [&] { ++ran; });
    notifier.WaitIdle();
    EXPECT_EQ(1, ran.load());
}

TEST(Notifier, TasksRunOnOneThreadOfItsOwn) {
    telsim::Notifier notifier;
    std::atomic<DWORD> first{0};
    std::atomic<DWORD> second{0};
    std::atomic<bool> onThread{false};
    notifier.Post(Clock::now(), [&] {
        first = GetCurrentThreadId();
        onThread = notifier.OnThread();
        notifier.WaitIdle();  // must not wait for itself
    });
    notifier.Post(Clock::now(), [&] { second = GetCurrentThreadId(); });
    notifier.WaitIdle();
    EXPECT_NE(GetCurrentThreadId(), first.load());
    EXPECT_EQ(first.load(), second.load());
    EXPECT_TRUE(onThread.load());
    EXPECT_FALSE(notifier.OnThread());
}

TEST(Notifier, ThrowingTaskDoesNotEndTheThread) {
    telsim::Notifier notifier;
    std::atomic<int> ran{0};
    notifier.Post(Clock::now(), [] { throw std::bad_alloc(); });
    notifier.Post(Clock::now(), [&] { ++ran; });
    notifier.WaitIdle();
    EXPECT_EQ(1, ran.load());
}

}  // namespace
