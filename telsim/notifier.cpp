#include "telsim/notifier.h"

#include "telsim/apartment.h"

#include <algorithm>
#include <objbase.h>

namespace telsim {
namespace {

struct Later {
    template <class Item>
    bool operator()(const Item& a, const Item& b) const noexcept {
        return a.due != b.due ? a.due > b.due : a.seq > b.seq;
    }
};

}  // namespace

void Notifier::Post(Clock::time_point due, std::function<void()> task,
                    std::function<bool()> stale) {
    std::lock_guard<std::mutex> lock(mu_);
    if (stop_) {
        return;
    }
    queue_.push_back(Item{due, seq_++, std::move(task), std::move(stale)});
    std::push_heap(queue_.begin(), queue_.end(), Later{});
    if (!thread_.joinable()) {
        ended_ = false;
        thread_ = std::thread([this] {
            Run();
            ended_ = true;
        });
        threadId_ = thread_.get_id();
    }
    wake_.notify_all();
}

void Notifier::Run() {
    // The real service calls sinks from a thread of the multithreaded apartment.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::unique_lock<std::mutex> lock(mu_);
    while (!stop_) {
        if (queue_.empty()) {
            idle_.notify_all();
            wake_.wait(lock);
            continue;
        }
        const auto due = queue_.front().due;
        const bool stale = queue_.front().stale && queue_.front().stale();
        if (!stale && Clock::now() < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        std::pop_heap(queue_.begin(), queue_.end(), Later{});
        auto task = std::move(queue_.back().task);
        queue_.pop_back();
        running_ = true;
        lock.unlock();
        if (!stale) {
            try {
                task();
            } catch (...) {
                // A delivery that ran out of memory is lost; the thread goes on.
            }
        }
        task = nullptr;
        lock.lock();
        running_ = false;
    }
    idle_.notify_all();
    lock.unlock();
    if (SUCCEEDED(init)) {
        CoUninitialize();
    }
}

void Notifier::WaitIdle() {
    if (OnThread()) {
        return;
    }
    if (InSingleThreadedApartment()) {
        WaitServingUntil(
            [this] {
                std::lock_guard<std::mutex> lock(mu_);
                return stop_ || (queue_.empty() && !running_);
            },
            INFINITE);
        return;
    }
    std::unique_lock<std::mutex> lock(mu_);
    idle_.wait(lock, [this] { return stop_ || (queue_.empty() && !running_); });
}

bool Notifier::Idle() const {
    std::lock_guard<std::mutex> lock(mu_);
    return queue_.empty() && !running_;
}

void Notifier::Stop() {
    std::vector<Item> dropped;
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
        dropped.swap(queue_);
        wake_.notify_all();
    }
    // Tasks hold references; they are released here, outside the lock.
    dropped.clear();
    if (thread_.joinable()) {
        if (OnThread()) {
            thread_.detach();  // the last owner let go from inside a delivery
        } else {
            WaitServingUntil([this] { return ended_.load(); }, INFINITE);
            thread_.join();
        }
    }
    // A later Post starts a new thread.
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = false;
    threadId_ = std::thread::id();
}

bool Notifier::OnThread() const noexcept {
    return std::this_thread::get_id() == threadId_;
}

}  // namespace telsim
