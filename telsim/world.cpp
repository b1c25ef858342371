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
    std::vector<Held<Address>> made;
    made.reserve(lines.size());
    for (const AddressSpec& line : lines) {
        made.emplace_back(service_.Ledger().Make<Address>(service_, line));
    }
    std::lock_guard<std::mutex> lock(mu_);
    addresses_.swap(made);
    // The former addresses are let go when `made` goes, after the lock.
}

std::vector<Held<Address>> World::Addresses() const {
    return Load(addresses_);
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
    std::vector<Held<Address>> addresses;
    std::vector<Held<Call>> calls;
    {
        std::lock_guard<std::mutex> lock(mu_);
        addresses.swap(addresses_);
        calls.swap(calls_);
    }
}

}  // namespace telsim
