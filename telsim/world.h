// The simulated world: its lines (addresses), how its calls go, where
// numbers are dialled from, and the calls placed in it.
#pragma once

#include "telephony/tapi.h"
#include "telsim/call_driver.h"
#include "telsim/held.h"
#include "telsim/translation.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <wrl/client.h>

namespace telsim {

class Address;
class Call;
class Service;

// One line device address as the service enumerates it.
struct AddressSpec {
    // nullopt: get_AddressName succeeds with a null BSTR.
    std::optional<std::wstring> name = L"Line";
    // The AC_ADDRESSTYPES capability (bit 0x1: phone numbers).
    long addressTypes = LINEADDRESSTYPE_PHONENUMBER;
    // Set: QueryMediaType's answer whatever the mask, and get_MediaTypes
    // answers the dialer's media when it is VARIANT_TRUE, else none; any
    // value may be given (1 is "true" to C but not VARIANT_TRUE). Unset:
    // both follow mediaTypes.
    std::optional<VARIANT_BOOL> mediaAnswer;
    // Whether the address offers each optional interface.
    bool capabilities = true;
    bool mediaSupport = true;
    bool translation = true;
    bool terminalSupport = true;
    // Per-address failures of single operations (S_OK: none).
    HRESULT nameResult = S_OK;
    HRESULT capabilityResult = S_OK;
    HRESULT mediaResult = S_OK;
    // The media the line carries (TAPIMEDIATYPE_ bits): QueryMediaType
    // answers true only when every type asked for is among them, and
    // CreateCall refuses any other. By default a voice modem's: audio and
    // data modem.
    long mediaTypes = TAPIMEDIATYPE_AUDIO | TAPIMEDIATYPE_DATAMODEM;
    // Set: what stands behind the line (a modem, telsim/modem); its calls
    // are driven by it instead of following the CallScript.
    std::shared_ptr<const LineDevice> device;
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

// How calls created from now on behave.
struct CallScript {
    // States after the call's Connect. A script that ends in
    // CS_DISCONNECTED models busy / no answer / remote hang-up.
    std::vector<CallStep> onConnect{{CS_INPROGRESS, 0}, {CS_CONNECTED, 0}};
    // States after the call's Disconnect. Steps of onConnect not yet
    // delivered are dropped when Disconnect is called.
    std::vector<CallStep> onDisconnect{{CS_DISCONNECTED, 0, CEC_DISCONNECT_NORMAL}};
    // How long the line takes to hang up: Disconnect returns after it.
    DWORD hangupMs = 0;
    // The line never confirms the hang-up: Disconnect fails with
    // TAPI_E_TIMEOUT after hangupMs, and the call stays as it was.
    bool hangupTimesOut = false;
    // How long Disconnect waits for the hang-up and the events it causes
    // before it gives up with TAPI_E_TIMEOUT (the real service's two
    // minutes).
    DWORD hangupLimitMs = 120000;
    // false: the call answers E_NOINTERFACE for ITStreamControl.
    bool hasStreamControl = true;
    std::vector<StreamSpec> streams{{TAPIMEDIATYPE_AUDIO, TD_CAPTURE},
                                    {TAPIMEDIATYPE_AUDIO, TD_RENDER}};

    // Whether the address offers a default terminal for a stream's media
    // and direction.
    bool HasDefaultTerminal(long mediaType, TERMINAL_DIRECTION direction) const;
};

// Where events are delivered.
//   Apartment (the default, as the real service does): from the service's
//     notification thread; a sink advised from a single-threaded apartment
//     that is not agile is called through the global interface table, in
//     its own apartment, so only while that apartment's thread serves calls.
//   NotificationThread (lenient): every sink called directly from the
//     notification thread, whatever apartment it was advised from.
//   Synchronous (lenient): inside the call that triggered them (delays
//     ignored).
enum class Delivery { Synchronous, NotificationThread, Apartment };

// When a call's Disconnect returns, where its hang-up's events go through
// the notification thread.
//   AfterDelivery (the default, the strictest reading: the reference does not
//     rule out that the service needs its event thread to finish a
//     hang-up): once every advised sink has been handed the events the
//     hang-up causes, so a sink that waits for the hang-up deadlocks with it
//     until the hang-up times out.
//   Prompt (lenient): once the line has hung up; the events follow.
enum class Hangup { AfterDelivery, Prompt };

// Whether a client may call calls and addresses from any apartment.
//   Bound (the default, the strictest reading: the reference does not say
//     that they are agile): each is bound to the apartment that made it and
//     answers RPC_E_WRONG_THREAD to a call from another, as a proxy used
//     from the wrong apartment does.
//   Agile (lenient): they aggregate the free-threaded marshaler, as every
//     other object of the service does.
enum class Objects { Bound, Agile };

// What a client may ask of calls, addresses and root objects from the
// notification thread, that is from inside a sink's Event.
//   ReadsOnly (the default, the strictest reading: the reference does not
//     say that the service's event thread may be asked to work, and its own
//     sample posts each event to its window and works there): reads only, a
//     get_ property or a member of IUnknown or of IDispatch's type
//     information. Any other member is recorded as a misuse and answered as
//     after that thread's deadlock with itself: TAPI_E_TIMEOUT after the
//     call script's HangupLimitMs, nothing done. The client's last release
//     of a call (but of the event's own call, which the event holds) or of a
//     root object there is recorded as a misuse too.
//   Any (lenient): every member works there.
enum class EventThread { ReadsOnly, Any };

class World {
public:
    explicit World(Service& service) noexcept;
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // ---- what the world is (takes effect at the next enumeration / new call)
    void SetAddresses(const std::vector<AddressSpec>& lines);
    // The lines, and a number (never 0) that changes whenever they do. Each
    // root object makes address objects of its own from them (root.h).
    std::pair<std::vector<AddressSpec>, unsigned> Lines() const;
    void SetCallScript(CallScript script) { Store(script_, std::move(script)); }
    CallScript Script() const { return Load(script_); }
    void SetDelivery(Delivery delivery) { Store(delivery_, delivery); }
    Delivery CurrentDelivery() const { return Load(delivery_); }
    void SetHangup(Hangup hangup) { Store(hangup_, hangup); }
    Hangup CurrentHangup() const { return Load(hangup_); }
    // Takes effect for calls and addresses made from then on.
    void SetObjects(Objects objects) { Store(objects_, objects); }
    Objects CurrentObjects() const { return Load(objects_); }
    void SetEventThread(EventThread mode) { Store(eventThread_, mode); }
    EventThread CurrentEventThread() const { return Load(eventThread_); }
    // The location numbers are translated from (the README, "Number
    // translation"); nullopt (the default): the dialable string is the number
    // as given.
    void SetLocation(std::optional<Location> location) { Store(location_, std::move(location)); }
    std::optional<Location> CurrentLocation() const { return Load(location_); }
    // Makes every creation of a root object fail with hr (S_OK: stop).
    void FailCreation(HRESULT hr) { Store(creationFailure_, hr); }
    HRESULT CreationFailure() const { return Load(creationFailure_); }

    // ---- the calls placed
    void AddCall(Call* call);
    // The calls created so far, oldest first, as the service still knows
    // them (a new reference each); CallStateOf reads the state without
    // recording.
    std::vector<Microsoft::WRL::ComPtr<ITBasicCallControl>> Calls() const;
    std::vector<Held<Call>> CallList() const;
    std::size_t CallsCreated() const;
    CALL_STATE CallStateOf(IUnknown* call) const;
    // The service shuts down: hangs up every call through its driver and
    // waits until they have ended (bounded by their hang-ups).
    void HangUpCalls() noexcept;

    // Lets go of every address and call (the service is going).
    void Clear();

private:
    template <class T>
    void Store(T& field, T value) {
        std::lock_guard<std::mutex> lock(mu_);
        field = std::move(value);
    }
    template <class T>
    T Load(const T& field) const {
        std::lock_guard<std::mutex> lock(mu_);
        return field;
    }

    Service& service_;
    mutable std::mutex mu_;
    std::vector<AddressSpec> lines_;
    unsigned linesVersion_ = 1;
    CallScript script_;
    Delivery delivery_ = Delivery::Apartment;
    Hangup hangup_ = Hangup::AfterDelivery;
    Objects objects_ = Objects::Bound;
    EventThread eventThread_ = EventThread::ReadsOnly;
    std::optional<Location> location_;
    HRESULT creationFailure_ = S_OK;
    std::vector<Held<Call>> calls_;
};

}  // namespace telsim
