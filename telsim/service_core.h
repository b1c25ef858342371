// The state of one simulated telephony world, shared by its objects.
#pragma once

#include "telsim/notifier.h"
#include "telsim/sim_object.h"
#include "telsim/telsim.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace telsim {

class Address;
class Call;
class Root;

// The outcome chosen for one call of an operation.
struct Gate {
    HRESULT fault = S_OK;  // a failure to return instead of working
    bool nullOut = false;  // succeed with a null out object
    std::size_t index = static_cast<std::size_t>(-1);  // into the record
};

class ServiceCore {
public:
    ServiceCore();
    ~ServiceCore();
    ServiceCore(const ServiceCore&) = delete;
    ServiceCore& operator=(const ServiceCore&) = delete;

    // ---- objects
    template <class T, class... Args>
    T* Make(Args&&... args) {
        auto object = std::make_unique<T>(*this, std::forward<Args>(args)...);
        T* raw = object.get();
        Register(std::move(object), dynamic_cast<void*>(static_cast<SimObject*>(raw)), sizeof(T));
        return raw;
    }
    // The service object whose memory holds p (any of its interfaces), or null.
    SimObject* Find(const void* p) const;
    template <class T>
    T* FindAs(const void* p) const {
        return dynamic_cast<T*>(Find(p));
    }

    // ---- recording and faults
    // Records the call (its arguments formatted only while recording) and
    // chooses its outcome. Never throws: without memory the call is merely
    // not recorded.
    template <class ArgsFn>
    Gate Begin(const wchar_t* name, ArgsFn&& args, bool query = false) noexcept {
        std::wstring text;
        if (recording_.load()) {
            try {
                text = args();
            } catch (...) {
                text.clear();
            }
        }
        return BeginWith(name, query, std::move(text));
    }
    Gate Begin(const wchar_t* name) noexcept { return BeginWith(name, false, std::wstring()); }
    HRESULT Finish(const Gate& gate, HRESULT hr);
    void ReportFault(std::wstring text) noexcept;  // an over-release, a double free...

    void SetRecording(bool on, std::size_t cap);
    void CountStrings(bool on) { countStrings_ = on; }
    void Inject(std::wstring_view name, Fault fault);
    void ClearFaults();
    std::vector<Operation> Operations(bool includeQueries) const;
    std::vector<std::wstring> OperationNames() const;
    std::size_t CountOf(std::wstring_view name) const;
    void ClearOperations();
    std::vector<std::wstring> Faults() const;

    // ---- strings
    BSTR AllocString(const wchar_t* text, std::size_t length);
    BSTR AllocString(const std::wstring& text) { return AllocString(text.data(), text.size()); }

    // ---- configuration
    void SetAddresses(const std::vector<AddressSpec>& lines);
    std::vector<Held<Address>> Addresses() const;
    void SetCallScript(CallScript script);
    CallScript Script() const;
    void SetDelivery(Delivery delivery);
    Delivery CurrentDelivery() const;
    void SetLocation(std::optional<Location> location);
    std::optional<Location> CurrentLocation() const;
    void KeepSinks(bool keep);
    void FailCreation(HRESULT hr);
    HRESULT CreationFailure() const;
    // Whether the current call script offers a default terminal for a stream.
    bool HasDefaultTerminal(long mediaType, TERMINAL_DIRECTION direction) const;

    // ---- roots, sinks, registrations
    HRESULT CreateRoot(IUnknown* outer, REFIID riid, void** ppv) noexcept;
    DWORD classCookie = 0;  // of RegisterClassObject, 0 when none
    void RootCreated(Root* root);
    void RootGone(Root* root);
    void SetInitialized(Root* root, bool initialized);
    bool IsInitialized(const Root* root) const;
    void SetFilter(Root* root, long filter);
    long Filter(const Root* root) const;
    bool AnyInitialized() const;
    long LatestFilter() const;
    DWORD AddSink(Root* root, Microsoft::WRL::ComPtr<ITTAPIEventNotification> sink);
    bool RemoveSink(Root* root, DWORD cookie);
    void ReleaseSinks();
    std::size_t SinkCount() const;
    std::vector<Microsoft::WRL::ComPtr<ITTAPIEventNotification>> AllSinks() const;
    long AddRegistration(Root* root, long callbackInstance);
    bool RemoveRegistration(Root* root, long handle);
    long Registrations() const;
    long LatestCallbackInstance() const;

    // ---- calls and events
    void CallCreated(Call* call);
    std::vector<Held<Call>> CallList() const;
    std::size_t CallsCreated() const;
    // Runs a call's steps: at once on this thread, or queued on the
    // notification thread. `generation` is the call's generation when the
    // steps were started; a later Disconnect makes them stale.
    // Steps that cannot be queued for lack of memory are lost (and reported).
    void RunSteps(Call* call, const std::vector<CallStep>& steps, unsigned generation, bool synchronous) noexcept;
    // Delivers one event to the sinks that take it, on this thread.
    HRESULT Deliver(const EventSpec& wanted, Call* call);
    HRESULT Raise(const EventSpec& wanted);
    void WaitIdle();
    // Stops the notification thread if nothing is pending (for unloading).
    bool StopIfIdle();
    void StopNotifier() { notifier_.Stop(); }

    // ---- inspection
    std::string Leaks() const;
    std::size_t LiveObjects() const;
    std::size_t LiveStrings() const;
    std::vector<std::wstring> OverReleases() const;
    long RefCount(const void* p) const;

private:
    struct FaultState {
        Fault fault;
        int seen = 0;
    };
    struct SinkEntry {
        Root* root;  // null once the root went and the sink was kept
        long orphanFilter;
        DWORD cookie;
        Microsoft::WRL::ComPtr<ITTAPIEventNotification> sink;
    };
    struct RootState {
        Root* root;
        bool initialized = false;
        long filter = 0;
    };
    struct Registration {
        Root* root;
        long handle;
        long callbackInstance;
    };
    struct Range {
        std::size_t size;
        SimObject* object;
    };

    void Register(std::unique_ptr<SimObject> object, void* start, std::size_t size);
    Gate BeginWith(const wchar_t* name, bool query, std::wstring args) noexcept;
    RootState* StateOf(const Root* root);
    const RootState* StateOf(const Root* root) const;

    // objects
    mutable std::mutex objectsMu_;
    std::vector<std::unique_ptr<SimObject>> objects_;
    std::map<std::uintptr_t, Range> ranges_;
    unsigned long nextId_ = 1;

    // recording and faults
    mutable std::mutex recordMu_;
    std::atomic<bool> recording_{true};
    std::size_t cap_ = 200000;
    std::vector<Operation> ops_;
    std::map<std::wstring, std::size_t, std::less<>> counts_;
    std::vector<std::wstring> names_;
    std::map<std::wstring, FaultState, std::less<>> faults_;
    std::vector<std::wstring> reported_;
    bool countStrings_ = true;

    // the world
    mutable std::mutex worldMu_;
    std::vector<Held<Address>> addresses_;
    CallScript script_;
    Delivery delivery_ = Delivery::NotificationThread;
    std::optional<Location> location_;
    bool keepSinks_ = false;
    HRESULT creationFailure_ = S_OK;
    std::vector<RootState> roots_;
    std::vector<SinkEntry> sinks_;
    DWORD nextCookie_ = 1;
    std::vector<Registration> registrations_;
    long nextRegistration_ = 1;
    long latestCallbackInstance_ = 0;
    long latestFilter_ = 0;
    std::vector<Held<Call>> calls_;

    Notifier notifier_;
};

// Argument formatting for records.
std::wstring Quote(const wchar_t* text);  // "text", or null
std::wstring Describe(IUnknown* object, const ServiceCore& core);

inline std::wstring ArgList() { return std::wstring(); }
template <class T>
std::wstring ArgText(const T& value) {
    if constexpr (std::is_convertible_v<T, std::wstring>) {
        return std::wstring(value);
    } else {
        return std::to_wstring(value);
    }
}
template <class First, class... Rest>
std::wstring ArgList(const First& first, const Rest&... rest) {
    std::wstring text = ArgText(first);
    ((text += L",", text += ArgText(rest)), ...);
    return text;
}

}  // namespace telsim
