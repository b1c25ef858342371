#include "telsim/recorder.h"

namespace telsim {

std::wstring Quote(const wchar_t* text) {
    return text ? L"\"" + std::wstring(text) + L"\"" : std::wstring(L"null");
}

std::wstring Operation::ToString() const {
    return name + L"(" + args + L")";
}

Gate Recorder::BeginWith(const wchar_t* name, bool query, std::wstring args) noexcept {
    Gate gate;
    std::lock_guard<std::mutex> lock(mu_);
    if (recording_.load()) {
        try {
            auto counted = counts_.find(std::wstring_view(name));
            if (counted == counts_.end()) {
                counted = counts_.emplace(name, 0).first;
                names_.emplace_back(name);
            }
            ++counted->second;
            if (ops_.size() < cap_) {
                ops_.push_back(Operation{name, std::move(args), S_OK, query});
                gate.index = ops_.size() - 1;
            }
        } catch (...) {
            // Not recorded; the operation itself goes on.
        }
    }
    auto fault = faults_.find(std::wstring_view(name));
    if (fault != faults_.end()) {
        FaultState& state = fault->second;
        ++state.seen;
        const int beyond = state.seen - state.fault.skip;
        if (beyond > 0 && (state.fault.count < 0 || beyond <= state.fault.count)) {
            gate.nullOut = state.fault.nullOut;
            gate.fault = state.fault.nullOut ? S_OK : state.fault.hr;
        }
    }
    return gate;
}

HRESULT Recorder::Finish(const Gate& gate, HRESULT hr) noexcept {
    if (gate.index != static_cast<std::size_t>(-1)) {
        std::lock_guard<std::mutex> lock(mu_);
        if (gate.index < ops_.size()) {
            ops_[gate.index].result = hr;
        }
    }
    return hr;
}

void Recorder::SetRecording(bool on, std::size_t cap) {
    std::lock_guard<std::mutex> lock(mu_);
    recording_ = on;
    cap_ = cap;
}

std::vector<Operation> Recorder::Operations(bool includeQueries) const {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<Operation> result;
    result.reserve(ops_.size());
    for (const Operation& op : ops_) {
        if (includeQueries || !op.query) {
            result.push_back(op);
        }
    }
    return result;
}

std::vector<std::wstring> Recorder::OperationNames() const {
    std::lock_guard<std::mutex> lock(mu_);
    return names_;
}

std::size_t Recorder::CountOf(std::wstring_view name) const {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = counts_.find(name);
    return it == counts_.end() ? 0 : it->second;
}

void Recorder::ClearOperations() {
    std::lock_guard<std::mutex> lock(mu_);
    ops_.clear();
    counts_.clear();
    names_.clear();
}

void Recorder::Inject(std::wstring_view name, Fault fault) {
    std::lock_guard<std::mutex> lock(mu_);
    faults_[std::wstring(name)] = FaultState{fault, 0};
}

void Recorder::FailOperation(std::wstring_view name, HRESULT hr, int skip, int count) {
    Inject(name, Fault{hr, false, skip, count});
}

void Recorder::NullOut(std::wstring_view name, int skip, int count) {
    Inject(name, Fault{E_FAIL, true, skip, count});
}

void Recorder::ClearFaults() {
    std::lock_guard<std::mutex> lock(mu_);
    faults_.clear();
}

}  // namespace telsim
