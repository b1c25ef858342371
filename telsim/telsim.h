// TelSim: a simulated telephony service (TAPI 3) for tests and demos.
//
// A Service is one fake telephony world: its addresses, how its calls
// progress, which operations fail, and the book-keeping a test asserts on
// (operations made, references held, strings handed out). Root objects made
// by CreateRoot (or by CoCreateInstance(CLSID_TAPI) once RegisterClassObject
// has run) are served from it.
//
// Typical test:
//
//   auto svc = telsim::Service::Create();
//   svc->SetAddresses({{L"Modem A"}, {L"Fax", 1, VARIANT_FALSE}});
//   svc->SetDelivery(telsim::Delivery::NotificationThread);
//   ASSERT_EQ(S_OK, svc->RegisterClassObject());
//   ... drive the dialer ...
//   svc->WaitIdle();
//   EXPECT_EQ("", svc->Leaks());
//
// Lifetime: the Service owns the memory of every object it hands out. Keep
// the shared_ptr alive until every object from it has been released (that
// is what Leaks() checks). A released object is kept as a zombie until the
// Service goes, so a release past zero is recorded, never a crash.
//
// Threads: every member may be called from any thread. The service never
// holds a lock of its own while it calls an advised sink.
#pragma once

#include "telephony/tapi.h"
#include "telsim/modem/modem_config.h"
#include "telsim/translation.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <wrl/client.h>

namespace telsim {

// Stable operation names, used for recording and for fault injection.
// Operations() reports them with their arguments.
namespace op {
inline constexpr wchar_t Initialize[] = L"ITTAPI::Initialize";
inline constexpr wchar_t Shutdown[] = L"ITTAPI::Shutdown";
inline constexpr wchar_t EnumerateAddresses[] = L"ITTAPI::EnumerateAddresses";
inline constexpr wchar_t PutEventFilter[] = L"ITTAPI::put_EventFilter";
inline constexpr wchar_t RegisterCallNotifications[] = L"ITTAPI::RegisterCallNotifications";
inline constexpr wchar_t UnregisterNotifications[] = L"ITTAPI::UnregisterNotifications";
inline constexpr wchar_t FindConnectionPoint[] = L"IConnectionPointContainer::FindConnectionPoint";
inline constexpr wchar_t Advise[] = L"IConnectionPoint::Advise";
inline constexpr wchar_t Unadvise[] = L"IConnectionPoint::Unadvise";
inline constexpr wchar_t AddressNext[] = L"IEnumAddress::Next";
inline constexpr wchar_t GetAddressName[] = L"ITAddress::get_AddressName";
inline constexpr wchar_t CreateCall[] = L"ITAddress::CreateCall";
inline constexpr wchar_t GetAddressCapability[] = L"ITAddressCapabilities::get_AddressCapability";
inline constexpr wchar_t QueryMediaType[] = L"ITMediaSupport::QueryMediaType";
inline constexpr wchar_t TranslateAddress[] = L"ITAddressTranslation::TranslateAddress";
inline constexpr wchar_t GetDialableString[] = L"ITAddressTranslationInfo::get_DialableString";
inline constexpr wchar_t GetDefaultStaticTerminal[] = L"ITTerminalSupport::GetDefaultStaticTerminal";
inline constexpr wchar_t CallConnect[] = L"ITBasicCallControl::Connect";
inline constexpr wchar_t CallDisconnect[] = L"ITBasicCallControl::Disconnect";
inline constexpr wchar_t EnumerateStreams[] = L"ITStreamControl::EnumerateStreams";
inline constexpr wchar_t StreamNext[] = L"IEnumStream::Next";
inline constexpr wchar_t StreamGetMediaType[] = L"ITStream::get_MediaType";
inline constexpr wchar_t StreamGetDirection[] = L"ITStream::get_Direction";
inline constexpr wchar_t SelectTerminal[] = L"ITStream::SelectTerminal";
inline constexpr wchar_t CallStateEventGetCall[] = L"ITCallStateEvent::get_Call";
inline constexpr wchar_t CallNotificationEventGetCall[] = L"ITCallNotificationEvent::get_Call";
inline constexpr wchar_t GetCallState[] = L"ITCallInfo::get_CallState";
// Queries for the optional interfaces are operations too: they can be made
// to fail (a failing query hands out null), and they are recorded as
// queries (see Operations()).
inline constexpr wchar_t QueryConnectionPointContainer[] = L"ITTAPI::QueryInterface(IConnectionPointContainer)";
inline constexpr wchar_t QueryCapabilities[] = L"ITAddress::QueryInterface(ITAddressCapabilities)";
inline constexpr wchar_t QueryMediaSupport[] = L"ITAddress::QueryInterface(ITMediaSupport)";
inline constexpr wchar_t QueryTranslation[] = L"ITAddress::QueryInterface(ITAddressTranslation)";
inline constexpr wchar_t QueryTerminalSupport[] = L"ITAddress::QueryInterface(ITTerminalSupport)";
inline constexpr wchar_t QueryStreamControl[] = L"ITBasicCallControl::QueryInterface(ITStreamControl)";
inline constexpr wchar_t QueryCallStateEvent[] = L"IDispatch::QueryInterface(ITCallStateEvent)";
inline constexpr wchar_t QueryCallNotificationEvent[] = L"IDispatch::QueryInterface(ITCallNotificationEvent)";
// Not an operation of the service but recorded in order with them: each
// delivery to an advised sink, args "kind,state".
inline constexpr wchar_t SinkEvent[] = L"ITTAPIEventNotification::Event";
}  // namespace op

// One line device address as the service enumerates it.
struct AddressSpec {
    // nullopt: get_AddressName succeeds with a null BSTR.
    std::optional<std::wstring> name = L"Line";
    // The AC_ADDRESSTYPES capability (bit 0x1: phone numbers).
    long addressTypes = LINEADDRESSTYPE_PHONENUMBER;
    // QueryMediaType's answer, whatever the mask; any value may be given
    // (1 is "true" to C but not VARIANT_TRUE).
    VARIANT_BOOL mediaAnswer = VARIANT_TRUE;
    // Whether the address offers each optional interface.
    bool capabilities = true;
    bool mediaSupport = true;
    bool translation = true;
    bool terminalSupport = true;
    // Per-address failures of single operations (S_OK: none).
    HRESULT nameResult = S_OK;
    HRESULT capabilityResult = S_OK;
    HRESULT mediaResult = S_OK;
    // Set: a modem line. Its calls dial through the modem on that serial
    // port (telsim/modem) instead of following the CallScript.
    std::shared_ptr<const modem::ModemConfig> modem;
};

// One media stream of a call.
struct StreamSpec {
    long mediaType = TAPIMEDIATYPE_AUDIO;
    TERMINAL_DIRECTION direction = TD_CAPTURE;
    // false: GetDefaultStaticTerminal fails for this stream's media and
    // direction with TAPI_E_NOITEMS.
    bool hasDefaultTerminal = true;
    HRESULT mediaTypeResult = S_OK;
    HRESULT directionResult = S_OK;
    HRESULT selectResult = S_OK;
};

// One call state a call goes through, delayMs after the previous step (or
// after the triggering Connect/Disconnect, for the first step).
struct CallStep {
    CALL_STATE state;
    DWORD delayMs = 0;
    CALL_STATE_EVENT_CAUSE cause = CEC_NONE;
};

// How calls created from now on behave.
struct CallScript {
    // States after the call's Connect. A script that ends in
    // CS_DISCONNECTED models busy / no answer / remote hang-up.
    std::vector<CallStep> onConnect{{CS_INPROGRESS, 0}, {CS_CONNECTED, 0}};
    // States after the call's Disconnect. Steps of onConnect not yet
    // delivered are dropped when Disconnect is called.
    std::vector<CallStep> onDisconnect{{CS_DISCONNECTED, 0, CEC_DISCONNECT_NORMAL}};
    // false: the call answers E_NOINTERFACE for ITStreamControl.
    bool hasStreamControl = true;
    std::vector<StreamSpec> streams{{TAPIMEDIATYPE_AUDIO, TD_CAPTURE}, {TAPIMEDIATYPE_AUDIO, TD_RENDER}};
};

// Where call-state events are delivered: inside the call that triggered
// them (delays ignored), or later, from the service's notification thread
// (as the real service does).
enum class Delivery { Synchronous, NotificationThread };

// A chosen failure of a named operation. The first `skip` calls succeed,
// then `count` calls (-1: all later calls) return `hr`; with nullOut they
// return S_OK with a null out object (or null BSTR) instead.
struct Fault {
    HRESULT hr = E_FAIL;
    bool nullOut = false;
    int skip = 0;
    int count = -1;
};

// An event raised by hand (RaiseEvent).
struct EventSpec {
    TAPI_EVENT kind = TE_CALLSTATE;
    // The state the call reports (ITCallInfo::get_CallState) from the
    // moment of delivery; it becomes the call's state.
    CALL_STATE callState = CS_CONNECTED;
    // The state the event object itself carries (ITCallStateEvent::get_State);
    // nullopt: the same as callState.
    std::optional<CALL_STATE> eventState;
    CALL_STATE_EVENT_CAUSE cause = CEC_NONE;
    // The call the event is about: a call this service created (any of its
    // interfaces), or null for a fresh call on no address.
    IUnknown* call = nullptr;
    // get_Call fails with this HRESULT (S_OK: succeeds).
    HRESULT getCallResult = S_OK;
    // get_Call succeeds with a null call.
    bool nullCall = false;
    // get_CallState fails with this HRESULT without writing its output.
    HRESULT callStateResult = S_OK;
    // The event object lacks the interface named for its kind.
    bool withoutEventInterface = false;
    // Deliver even if the root object's event filter does not include kind.
    bool ignoreFilter = false;
    // nullopt: the service's current delivery mode.
    std::optional<Delivery> delivery;
    DWORD delayMs = 0;
};

// One recorded operation.
struct Operation {
    std::wstring name;  // one of the op:: names
    std::wstring args;  // e.g. L"\"5550100\",1,24"; empty for none
    HRESULT result = S_OK;
    bool query = false;  // a QueryInterface for an optional interface
    std::wstring ToString() const;  // name(args)
};

class ServiceCore;

class Service {
public:
    // A new, empty-fault service with the default world: two suitable lines
    // ("Line 1", "Line 2") and the default CallScript, delivering from the
    // notification thread. Also installs the string-free tracking hook in
    // every loaded module (see TrackStringFrees).
    static std::shared_ptr<Service> Create();
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // ---- configuration (takes effect at the next enumeration / new call)
    void SetAddresses(std::vector<AddressSpec> addresses);
    void SetCallScript(CallScript script);
    void SetDelivery(Delivery delivery);
    // The location numbers are translated from (the README, "Number translation");
    // nullopt (the default): the dialable string is the number as given.
    void SetLocation(std::optional<Location> location);
    // Recording keeps at most `cap` operations, 200000 unless set (later
    // ones are counted in the per-name counters only): a long run costs no
    // more than some tens of megabytes. Off: nothing is recorded or counted;
    // faults still apply.
    void SetRecording(bool on, std::size_t cap = 200000);
    // Off: strings handed out from now on are not accounted (no quarantine
    // either), for runs that hand out very many.
    void CountStrings(bool on);
    // Keep sinks advised after the root object's last release, so a test
    // can raise a late event after the dialer is gone; ReleaseSinks() lets
    // them go. Off (the default) the root object's final release releases
    // its sinks, as the real service does.
    void KeepSinksAfterRootRelease(bool keep);

    // ---- faults
    void Inject(std::wstring_view operation, Fault fault);
    void FailOperation(std::wstring_view operation, HRESULT hr, int skip = 0, int count = -1);
    void NullOut(std::wstring_view operation, int skip = 0, int count = -1);
    void ClearFaults();

    // ---- root objects
    // What CoCreateInstance(CLSID_TAPI, ...) gives: a new root object, not
    // initialised. Supports aggregation refusal (CLASS_E_NOAGGREGATION).
    HRESULT CreateRoot(IUnknown* outer, REFIID riid, void** ppv);
    // Registers a class object for CLSID_TAPI in this process (REGCLS_MULTIPLEUSE,
    // CLSCTX_INPROC_SERVER) serving CreateRoot; RevokeClassObject undoes it
    // (the destructor too).
    HRESULT RegisterClassObject();
    void RevokeClassObject();
    // Makes the next CreateRoot / CoCreateInstance fail with hr (S_OK: stop).
    void FailCreation(HRESULT hr);

    // ---- events
    // Raises an event to every advised sink of every root object (whose
    // filter passes it, unless ignoreFilter). Returns what the sinks
    // answered for a synchronous delivery (the last failure, else S_OK),
    // S_OK for a queued one.
    HRESULT RaiseEvent(const EventSpec& event);
    // Waits until the notification thread has delivered everything queued,
    // delayed steps included.
    void WaitIdle();
    // Releases the sinks still held (advised, or kept after the root went).
    void ReleaseSinks();
    std::size_t AdvisedSinks() const;
    // The sinks currently held, each with a new reference for the caller.
    std::vector<Microsoft::WRL::ComPtr<ITTAPIEventNotification>> Sinks() const;

    // ---- calls
    // The calls created so far, oldest first, as the service still knows
    // them (a new reference each); CallStateOf reads the state without
    // recording.
    std::vector<Microsoft::WRL::ComPtr<ITBasicCallControl>> Calls() const;
    std::size_t CallsCreated() const;
    CALL_STATE CallStateOf(IUnknown* call) const;

    // ---- inspection
    // Recorded operations in order; queries for optional interfaces only
    // when includeQueries.
    std::vector<Operation> Operations(bool includeQueries = false) const;
    // Distinct operation names used so far, in order of first use (queries
    // included): the list a fault-injection suite walks.
    std::vector<std::wstring> OperationNames() const;
    // How many times an operation was called (counted even beyond the cap).
    std::size_t CountOf(std::wstring_view operation) const;
    void ClearOperations();
    bool Initialized() const;       // some root object is initialised
    long EventFilter() const;       // of the most recent root object
    long RegistrationsHeld() const; // RegisterCallNotifications not yet unregistered

    // Everything still referenced by a client, every string not freed, every
    // release past zero or use of a destroyed object, one per line; "" when
    // clean. Sinks held by the service are not counted (see AdvisedSinks).
    std::string Leaks() const;
    std::size_t LiveObjects() const;  // objects with client references
    std::size_t LiveStrings() const;  // handed-out strings not yet freed
    std::vector<std::wstring> OverReleases() const;
    // Client references on a service object (any of its interfaces); -1 if
    // the pointer is not one of this service's objects.
    long RefCount(IUnknown* object) const;

    // Installs (again) the SysFreeString hook in every module loaded now, so
    // that strings handed out and freed through a module loaded later (a
    // DLL under test) are accounted too; making a root object does this by
    // itself once Create has run. Returns the number of import slots patched.
    static int TrackStringFrees();

    ServiceCore& Core() { return *core_; }

private:
    Service();
    std::shared_ptr<ServiceCore> core_;
};

}  // namespace telsim
