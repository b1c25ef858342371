#include "telsim/ledger.h"

#include "telsim/sim_object.h"

#include "telsim/string_tracker.h"
#include "telsim/utf8.h"

#include <algorithm>

namespace telsim {
namespace {

constexpr std::size_t kMaxMisuses = 1000;

}  // namespace

Ledger::~Ledger() {
    TeardownAll();
    std::vector<std::unique_ptr<SimObject>> objects;
    {
        std::lock_guard<std::mutex> lock(mu_);
        objects.swap(objects_);
        ranges_.clear();
    }
    objects.clear();
    strings::Forget(this);
}

void Ledger::Register(std::unique_ptr<SimObject> object, void* start, std::size_t size) {
    std::lock_guard<std::mutex> lock(mu_);
    object->SetId(nextId_++);
    ranges_[reinterpret_cast<std::uintptr_t>(start)] = Range{size, object.get()};
    objects_.push_back(std::move(object));
}

SimObject* Ledger::Find(const void* p) const {
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    std::lock_guard<std::mutex> lock(mu_);
    auto it = ranges_.upper_bound(address);
    if (it == ranges_.begin()) {
        return nullptr;
    }
    --it;
    return address < it->first + it->second.size ? it->second.object : nullptr;
}

void Ledger::TeardownAll() noexcept {
    std::vector<SimObject*> objects;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (const auto& object : objects_) {
            objects.push_back(object.get());
        }
    }
    for (SimObject* object : objects) {
        object->Teardown();
    }
}

BSTR Ledger::AllocString(const std::wstring& text) {
    bool counted = false;
    {
        std::lock_guard<std::mutex> lock(mu_);
        counted = countStrings_;
    }
    return strings::Allocate(this, text.data(), text.size(), counted);
}

void Ledger::CountStrings(bool on) {
    std::lock_guard<std::mutex> lock(mu_);
    countStrings_ = on;
}

void Ledger::ReportMisuse(std::wstring text) noexcept {
    try {
        std::lock_guard<std::mutex> lock(mu_);
        if (misuses_.size() < kMaxMisuses) {
            misuses_.push_back(std::move(text));
        }
    } catch (...) {
        // A report that cannot be stored is lost; the caller must not fail.
    }
}

void Ledger::RecordFailedHangUp(const SimObject& call, HRESULT hr,
                                bool fromNotificationThread) noexcept {
    try {
        FailedHangUp failed{call.Describe(), hr, fromNotificationThread};
        std::lock_guard<std::mutex> lock(mu_);
        if (failedHangUps_.size() < kMaxMisuses) {
            failedHangUps_.push_back(std::move(failed));
        }
    } catch (...) {
        // Lost, as a misuse's report would be.
    }
}

std::vector<FailedHangUp> Ledger::FailedHangUps() const {
    std::lock_guard<std::mutex> lock(mu_);
    return failedHangUps_;
}

std::vector<std::wstring> Ledger::Misuses() const {
    std::lock_guard<std::mutex> lock(mu_);
    return misuses_;
}

std::size_t Ledger::LiveObjects() const {
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<std::size_t>(std::count_if(
        objects_.begin(), objects_.end(),
        [](const auto& object) { return !object->Destroyed() && object->ClientRefs() > 0; }));
}

std::size_t Ledger::LiveStrings() const {
    return strings::Live(this);
}

long Ledger::RefCount(const void* p) const {
    const SimObject* object = Find(p);
    return object ? object->ClientRefs() : -1;
}

std::string Ledger::Leaks() const {
    std::wstring text;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (const auto& object : objects_) {
            const long refs = object->ClientRefs();
            if (object->Destroyed() || refs <= 0) {
                continue;
            }
            text += object->Describe() + L" still held " + std::to_wstring(refs) + L" time(s)\n";
        }
    }
    if (const std::size_t strings = LiveStrings()) {
        text += std::to_wstring(strings) + L" string(s) handed out and never freed\n";
    }
    for (const std::wstring& misuse : Misuses()) {
        text += misuse + L"\n";
    }
    return Utf8(text);
}

}  // namespace telsim
