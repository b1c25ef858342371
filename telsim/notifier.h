// The service's notification thread: runs queued deliveries at their due
// time, one at a time, in order of due time and then of posting.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace telsim {

class Notifier {
public:
    using Clock = std::chrono::steady_clock;

    Notifier() = default;
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;
    ~Notifier() { Stop(); }

    // Starts the thread on first use. A task whose `stale` answers true by
    // the time it reaches the front of the queue is dropped without waiting
    // for its due time (stale is called with the queue's lock held: keep it
    // to a read of an atomic).
    void Post(Clock::time_point due, std::function<void()> task,
              std::function<bool()> stale = nullptr);
    // Returns when nothing is queued or running (at once on the thread itself).
    // A thread of a single-threaded apartment serves calls into it meanwhile:
    // the running delivery may be one.
    void WaitIdle();
    // Drops what is queued, lets a running task end and joins the thread
    // (serving calls as WaitIdle does); a later Post starts it again.
    void Stop();
    bool OnThread() const noexcept;
    bool Idle() const;

private:
    struct Item {
        Clock::time_point due;
        unsigned long long seq;
        std::function<void()> task;
        std::function<bool()> stale;
    };
    void Run();

    mutable std::mutex mu_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::vector<Item> queue_;  // a heap ordered by (due, seq)
    unsigned long long seq_ = 0;
    bool running_ = false;
    bool stop_ = false;
    std::atomic<bool> ended_{false};  // Run has returned
    std::thread thread_;
    std::thread::id threadId_;
};

}  // namespace telsim
