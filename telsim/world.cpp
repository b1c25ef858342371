#include "telsim/world.h"

#include "telsim/address.h"
#include "telsim/call.h"
#include "telsim/telsim.h"

#include <algorithm>

namespace telsim {

bool CallScript::HasDefaultTerminal(long mediaType, TERMINAL_DIRECTION direction) const {
    return std::none_of(streams.begin(), streams.end(), [&](const StreamSpec& wanted) {
        return wanted.mediaType == mediaType && wanted.direction == direction &&
               !wanted.hasDefaultTerminal;
    });
}

World::World(Service& service) noexcept : service_(service) {}

World::~World() = default;

void World::SetAddresses(const std::vector<AddressSpec>& lines) {
    std::vector<AddressSpec> copy = lines;
    std::lock_guard<std::mutex> lock(mu_);
    lines_.swap(copy);
    ++linesVersion_;
    if (linesVersion_ == 0) {
        linesVersion_ = 1;
    }
}

std::pair<std::vector<AddressSpec>, unsigned> World::Lines() const {
    std::lock_guard<std::mutex> lock(mu_);
    return {lines_, linesVersion_};
}

void World::AddCall(Call* call) {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.emplace_back(call);
}

std::vector<Microsoft::WRL::ComPtr<ITBasicCallControl>> World::Calls() const {
    std::vector<Microsoft::WRL::ComPtr<ITBasicCallControl>> result;
    for (const Held<Call>& call : CallList()) {
        result.emplace_back(call.Get());
    }
    return result;
}

std::vector<Held<Call>> World::CallList() const {
    return Load(calls_);
}

std::size_t World::CallsCreated() const {
    std::lock_guard<std::mutex> lock(mu_);
    return calls_.size();
}

CALL_STATE World::CallStateOf(IUnknown* call) const {
    const Call* found = service_.Ledger().FindAs<Call>(call);
    return found ? found->State() : CS_IDLE;
}

void World::HangUpCalls() noexcept {
    try {
        const std::vector<Held<Call>> calls = CallList();
        std::vector<CallDriver*> drivers;
        for (const Held<Call>& call : calls) {
            if (CallDriver* driver = call->Driver()) {
                drivers.push_back(driver);
            }
        }
        HangUpAndWait(drivers);
    } catch (...) {
        service_.Ledger().ReportMisuse(L"calls not hung up for lack of memory");
    }
}

void World::Clear() {
    std::vector<Held<Call>> calls;
    {
        std::lock_guard<std::mutex> lock(mu_);
        calls.swap(calls_);
    }
}

}  // namespace telsim
