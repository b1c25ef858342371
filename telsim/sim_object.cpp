#include "telsim/sim_object.h"

#include "telsim/service_core.h"

namespace telsim {

SimObject::SimObject(ServiceCore& core, const wchar_t* kind) noexcept : core_(core), kind_(kind) {}

std::wstring SimObject::Describe() const {
    return std::wstring(kind_) + L"#" + std::to_wstring(id_);
}

ULONG SimObject::ClientAddRef() noexcept {
    if (destroyed_.load()) {
        Report(L"AddRef on destroyed");
        return 0;
    }
    return static_cast<ULONG>(++clients_);
}

ULONG SimObject::ClientRelease() noexcept {
    long current = clients_.load();
    do {
        if (current <= 0) {
            Report(L"Release past zero on");
            return 0;
        }
    } while (!clients_.compare_exchange_weak(current, current - 1));
    if (current == 1) DestroyIfUnused();
    return static_cast<ULONG>(current - 1);
}

void SimObject::ServiceHold() noexcept {
    ++holds_;
}

void SimObject::ServiceUnhold() noexcept {
    if (--holds_ == 0) DestroyIfUnused();
}

void SimObject::Teardown() noexcept {
    if (!destroyed_.exchange(true)) OnDestroy();
}

void SimObject::DestroyIfUnused() noexcept {
    if (clients_.load() == 0 && holds_.load() == 0 && !destroyed_.exchange(true)) OnDestroy();
}

bool SimObject::CheckAlive(const wchar_t* what) const noexcept try {
    if (!destroyed_.load()) return false;
    const std::wstring text = std::wstring(what) + L" on destroyed";
    Report(text.c_str());
    return true;
} catch (...) {
    return true;
}

void SimObject::Report(const wchar_t* what) const noexcept {
    try {
        core_.ReportFault(std::wstring(what) + L" " + Describe());
    } catch (...) {
        // The report is lost; the object's caller must not fail for it.
    }
}

}  // namespace telsim
