// The worker thread of a line with a device behind it (a modem's dialogue,
// an agent's control connection), counted while it runs so that a service
// and its tests can tell that none is left behind.
#pragma once

#include <atomic>
#include <thread>
#include <utility>

namespace telsim {

// Runs run() on a new thread, counted in `running` until it returns. Nothing
// that run throws leaves the thread. Throws what std::thread throws, with the
// count unchanged.
template <class Run>
std::thread StartCountedThread(std::atomic<long>& running, Run run) {
    ++running;
    try {
        return std::thread([&running, run = std::move(run)]() mutable {
            try {
                run();
            } catch (...) {
            }
            --running;
        });
    } catch (...) {
        --running;
        throw;
    }
}

}  // namespace telsim
