// The ledger: every object the service hands out and every string, what a
// client still holds of them, and a client's misuse of them (a release past
// zero, a call on a destroyed object, a string freed twice).
//
// The ledger owns the memory of every object until it goes, so a released
// object stays as a zombie and a misuse is recorded, never a crash.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace telsim {

class SimObject;

// A hang-up (a call's Disconnect) that failed.
struct FailedHangUp {
    std::wstring call;  // e.g. Call#4("5550100")
    HRESULT result;
    bool fromNotificationThread;
};

class Ledger {
public:
    Ledger() = default;
    ~Ledger();
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    // A new object, kept until the ledger goes.
    template <class T, class... Args>
    T* Make(Args&&... args) {
        auto object = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = object.get();
        Register(std::move(object), dynamic_cast<void*>(static_cast<SimObject*>(raw)), sizeof(T));
        return raw;
    }
    // The object whose memory holds p (any of its interfaces), or null.
    SimObject* Find(const void* p) const;
    template <class T>
    T* FindAs(const void* p) const {
        return dynamic_cast<T*>(Find(p));
    }
    // Drops every object's links whatever its counts (the service is going):
    // no object is freed while another still links it.
    void TeardownAll() noexcept;

    // A string handed out, accounted until freed (see string_tracker.h);
    // null on lack of memory.
    BSTR AllocString(const std::wstring& text);
    // Off: strings handed out from now on are not accounted (no quarantine
    // either), for runs that hand out very many.
    void CountStrings(bool on);

    // Records a client's misuse ("Release past zero on Address#3").
    void ReportMisuse(std::wstring text) noexcept;
    std::vector<std::wstring> Misuses() const;
    // A client called a call or address from an apartment it is not bound
    // to (World::Objects) and was refused; how many times so far.
    void CountWrongApartmentCall() noexcept { ++wrongApartmentCalls_; }
    std::size_t WrongApartmentCalls() const noexcept { return wrongApartmentCalls_.load(); }
    // Every failed hang-up, in order, whoever asked for it: a client that
    // must never retry one on the notification thread can be checked here.
    // Not a misuse: a line may fail to hang up.
    void RecordFailedHangUp(const SimObject& call, HRESULT hr,
                            bool fromNotificationThread) noexcept;
    std::vector<FailedHangUp> FailedHangUps() const;

    // Everything still referenced by a client, every string not freed, every
    // misuse, one per line; "" when clean. Sinks held by the service are not
    // counted (see Notifications::AdvisedSinks).
    std::string Leaks() const;
    std::size_t LiveObjects() const;  // objects with client references
    std::size_t LiveStrings() const;  // handed-out strings not yet freed
    // Client references on an object (any of its interfaces); -1 if the
    // pointer is not one of this service's objects.
    long RefCount(const void* object) const;

private:
    struct Range {
        std::size_t size;
        SimObject* object;
    };

    void Register(std::unique_ptr<SimObject> object, void* start, std::size_t size);

    mutable std::mutex mu_;
    std::vector<std::unique_ptr<SimObject>> objects_;
    std::map<std::uintptr_t, Range> ranges_;
    unsigned long nextId_ = 1;
    bool countStrings_ = true;
    std::vector<std::wstring> misuses_;
    std::vector<FailedHangUp> failedHangUps_;
    std::atomic<std::size_t> wrongApartmentCalls_{0};
};

}  // namespace telsim
