#include "telsim/modem/modem_dial.h"

#include "comkit/result.h"
#include "telsim/line_thread.h"

#include <atomic>
#include <mutex>

namespace telsim::modem {
namespace {

std::atomic<long> g_running{0};

}  // namespace

long ModemDial::Running() noexcept {
    return g_running.load();
}

// Lives as long as the ModemDial or its thread, whichever is longer.
struct ModemDial::Shared {
    Shared(const ModemConfig& config, std::string number, Callback cb)
        : session(config, abort), dialable(std::move(number)), callback(std::move(cb)) {}

    // The lock is held while the callback runs, so the destructor (which
    // clears the callback under it) cannot return during a call into the
    // owner. Recursive: the callback may destroy the ModemDial itself.
    void Report(DialState state, Outcome why) {
        std::lock_guard lock(callbackMu);
        if (state == DialState::Disconnected) {
            reason.store(why);
            ended.store(true);
        }
        if (!callback) {
            return;
        }
        const Callback local = callback;
        local(DialEvent{state, why, OutcomeName(why)});
    }

    void Run() {
        Outcome outcome = session.Initialise();
        if (outcome == Outcome::Connected) {
            Report(DialState::InProgress, Outcome::Connected);
            outcome = session.Dial(dialable);
        }
        if (outcome == Outcome::Connected) {
            Report(DialState::Connected, Outcome::Connected);
            outcome = session.WaitWhileConnected();
            if (outcome == Outcome::HungUp) {
                session.HangUp(true);
            }
        } else if (outcome == Outcome::HungUp) {
            session.HangUp(false);
        }
        session.Close();
        Report(DialState::Disconnected, outcome);
    }

    std::atomic<bool> abort{false};
    std::atomic<bool> ended{false};
    std::atomic<Outcome> reason{Outcome::Connected};
    HayesSession session;
    const std::string dialable;
    std::recursive_mutex callbackMu;
    Callback callback;
};

ModemDial::ModemDial(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

HRESULT ModemDial::Start(const ModemConfig& config, std::string dialable, Callback callback,
                         std::unique_ptr<ModemDial>& call) noexcept {
    call.reset();
    return comkit::GuardCall([&]() -> HRESULT {
        auto shared = std::make_shared<Shared>(config, std::move(dialable), std::move(callback));
        RETURN_IF_FAILED(shared->session.Open());
        std::unique_ptr<ModemDial> started(new ModemDial(shared));
        // The port closes with the last of `shared`.
        started->thread_ = StartCountedThread(g_running, [shared] { shared->Run(); });
        call = std::move(started);
        return S_OK;
    });
}

void ModemDial::HangUp() noexcept {
    shared_->abort.store(true);
}

ModemDial::~ModemDial() {
    {
        std::lock_guard lock(shared_->callbackMu);
        shared_->callback = nullptr;
    }
    shared_->abort.store(true);
    if (!thread_.joinable()) {
        return;
    }
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

bool ModemDial::Ended() const noexcept {
    return shared_->ended.load();
}
Outcome ModemDial::Reason() const noexcept {
    return shared_->reason.load();
}
std::string ModemDial::Transcript() const {
    return shared_->session.Transcript();
}

}  // namespace telsim::modem
