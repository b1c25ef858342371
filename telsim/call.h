// Calls, their stream enumerators and streams.
#pragma once

#include "telsim/call_driver.h"
#include "telsim/notifier.h"
#include "telsim/sim_enum.h"
#include "telsim/sim_object.h"
#include "telsim/world.h"

#include <atomic>
#include <mutex>
#include <vector>

#include <wrl/client.h>

namespace telsim {

class Address;
class Stream;

class Call final : public SimObject,
                   public ITBasicCallControl,
                   public ITCallInfo,
                   public ITStreamControl,
                   private CallReports {
public:
    // address may be null (a call raised by hand for no address); device
    // null: the call follows the script.
    Call(Service& service, Address* address, std::wstring destination, long addressType,
         long mediaTypes, CallScript script, const LineDevice* device = nullptr);
    std::wstring Describe() const override;

    TELSIM_IUNKNOWN
    TELSIM_NO_DISPATCH

    CALL_STATE State() const noexcept { return state_.load(); }
    unsigned Generation() const noexcept { return generation_.load(); }
    // Delivery of a step sets the state the call reports from then on.
    void SetState(CALL_STATE state) noexcept { state_.store(state); }
    // A failure get_CallState answers while one event is being delivered.
    void SetStateReadResult(HRESULT hr) noexcept { stateReadResult_.store(hr); }
    // Null once the call is destroyed.
    CallDriver* Driver() noexcept { return driver_.get(); }
    // When the last step reported is due on the notification thread.
    Notifier::Clock::time_point LastDue() const noexcept {
        return Notifier::Clock::time_point(Notifier::Clock::duration(lastDue_.load()));
    }
    void SetLastDue(Notifier::Clock::time_point due) noexcept {
        lastDue_.store(due.time_since_epoch().count());
    }

    // ITBasicCallControl
    STDMETHODIMP Connect(VARIANT_BOOL sync) noexcept override;
    STDMETHODIMP Answer() noexcept override { return Unsimulated(); }
    STDMETHODIMP Disconnect(DISCONNECT_CODE code) noexcept override;
    STDMETHODIMP Hold(VARIANT_BOOL) noexcept override { return Unsimulated(); }
    STDMETHODIMP HandoffDirect(BSTR) noexcept override { return Unsimulated(); }
    STDMETHODIMP HandoffIndirect(long) noexcept override { return Unsimulated(); }
    STDMETHODIMP Conference(ITBasicCallControl*, VARIANT_BOOL) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP Transfer(ITBasicCallControl*, VARIANT_BOOL) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP BlindTransfer(BSTR) noexcept override { return Unsimulated(); }
    STDMETHODIMP SwapHold(ITBasicCallControl*) noexcept override { return Unsimulated(); }
    STDMETHODIMP ParkDirect(BSTR) noexcept override { return Unsimulated(); }
    STDMETHODIMP ParkIndirect(BSTR* address) noexcept override {
        RETURN_IF_FAILED(Enter());
        return NotImplemented(address);
    }
    STDMETHODIMP Unpark() noexcept override { return Unsimulated(); }
    STDMETHODIMP SetQOS(long, QOS_SERVICE_LEVEL) noexcept override { return Unsimulated(); }
    STDMETHODIMP Pickup(BSTR) noexcept override { return Unsimulated(); }
    STDMETHODIMP Dial(BSTR) noexcept override { return Unsimulated(); }
    STDMETHODIMP Finish(FINISH_MODE) noexcept override { return Unsimulated(); }
    STDMETHODIMP RemoveFromConference() noexcept override { return Unsimulated(); }

    // ITCallInfo
    STDMETHODIMP get_Address(ITAddress** address) noexcept override;
    STDMETHODIMP get_CallState(CALL_STATE* state) noexcept override;
    STDMETHODIMP get_Privilege(CALL_PRIVILEGE* privilege) noexcept override;
    STDMETHODIMP get_CallHub(ITCallHub**) noexcept override { return Unsimulated(); }
    STDMETHODIMP get_CallInfoLong(CALLINFO_LONG, long*) noexcept override { return Unsimulated(); }
    STDMETHODIMP put_CallInfoLong(CALLINFO_LONG, long) noexcept override { return Unsimulated(); }
    STDMETHODIMP get_CallInfoString(CALLINFO_STRING, BSTR*) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP put_CallInfoString(CALLINFO_STRING, BSTR) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP get_CallInfoBuffer(CALLINFO_BUFFER, VARIANT*) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP put_CallInfoBuffer(CALLINFO_BUFFER, VARIANT) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP GetCallInfoBuffer(CALLINFO_BUFFER, DWORD*, BYTE**) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP SetCallInfoBuffer(CALLINFO_BUFFER, DWORD, BYTE*) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP ReleaseUserUserInfo() noexcept override { return Unsimulated(); }

    // ITStreamControl
    STDMETHODIMP CreateStream(long, TERMINAL_DIRECTION, ITStream**) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP RemoveStream(ITStream*) noexcept override { return Unsimulated(); }
    STDMETHODIMP EnumerateStreams(IEnumStream** result) noexcept override;
    STDMETHODIMP get_Streams(VARIANT*) noexcept override { return Unsimulated(); }

private:
    HRESULT Query(REFIID riid, void** ppv) noexcept;
    void OnDestroy() noexcept override;
    void OnLastClientRelease() noexcept override;
    // Disconnect once the caller may ask for it.
    HRESULT HangUp(DISCONNECT_CODE code) noexcept;
    // CallReports: what the driver says becomes the call's states.
    void Report(const std::vector<CallStep>& steps, bool synchronous) noexcept override;
    void DropPending() noexcept override;
    // Waits (until deadline, a GetTickCount64 time) for the events of a
    // hang-up started after `reportsBefore` reports to reach every sink.
    HRESULT AwaitHangUpEvents(unsigned reportsBefore, ULONGLONG deadline) noexcept;

    Held<Address> address_;
    const std::wstring destination_;
    const long addressType_;
    const long mediaTypes_;
    const CallScript script_;
    std::vector<Held<Stream>> streams_;
    std::atomic<CALL_STATE> state_{CS_IDLE};
    std::atomic<HRESULT> stateReadResult_{S_OK};
    std::atomic<unsigned> generation_{0};
    std::atomic<bool> connectStarted_{false};
    std::atomic<bool> disconnectRequested_{false};
    std::atomic<unsigned> reports_{0};  // what the driver has reported, counted
    std::atomic<Notifier::Clock::rep> lastDue_{0};
    // Destroyed in OnDestroy, which ends a call its driver still runs.
    std::unique_ptr<CallDriver> driver_;
};

inline constexpr wchar_t kStreamEnumKind[] = L"EnumStream";
using StreamEnum =
    SimEnum<IEnumStream, ITStream, Stream, IID_IEnumStream, kStreamEnumKind, op::StreamNext>;

class Terminal;

class Stream final : public SimObject, public ITStream {
public:
    Stream(Service& service, StreamSpec wanted) noexcept;

    TELSIM_IUNKNOWN
    TELSIM_NO_DISPATCH

    std::size_t SelectedCount() const;

    STDMETHODIMP get_MediaType(long* mediaType) noexcept override;
    STDMETHODIMP get_Direction(TERMINAL_DIRECTION* direction) noexcept override;
    STDMETHODIMP get_Name(BSTR* name) noexcept override;
    STDMETHODIMP StartStream() noexcept override { return S_OK; }
    STDMETHODIMP PauseStream() noexcept override { return S_OK; }
    STDMETHODIMP StopStream() noexcept override { return S_OK; }
    STDMETHODIMP SelectTerminal(ITTerminal* terminal) noexcept override;
    STDMETHODIMP UnselectTerminal(ITTerminal* terminal) noexcept override;
    STDMETHODIMP EnumerateTerminals(IEnumTerminal**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_Terminals(VARIANT*) noexcept override { return E_NOTIMPL; }

private:
    HRESULT Query(REFIID riid, void** ppv) noexcept;
    void OnDestroy() noexcept override;
    // A recorded read of one of the stream's properties: fails with `result`
    // when that is a failure, else gives `value`.
    template <class T>
    HRESULT Read(const wchar_t* op, T* out, HRESULT result, T value) noexcept;

    const StreamSpec spec_;
    mutable std::mutex mu_;
    std::vector<Held<Terminal>> selected_;
    std::vector<Microsoft::WRL::ComPtr<ITTerminal>> foreign_;  // terminals not made by this service
};

}  // namespace telsim
