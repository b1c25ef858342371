// CTAPIDialer: the Brevlin dialer, one object per control a host creates.
// It keeps the telephony root object, the selected address, the current call
// and the registration for call events, and places one outgoing call at a
// time through the telephony service.
//
// Create it through CTAPIDialer::CreateInstance(outer, riid, ppv) (plain
// object without an outer unknown, aggregatable with one).
#pragma once

#include <windows.h>

#include <atomic>

#include <wrl/client.h>

#include "brevlin_idl.h"
#include "comkit/bstr.h"
#include "comkit/coclass.h"
#include "comkit/control/control_bases.h"
#include "comkit/critical_section.h"
#include "comkit/dispatch.h"
#include "comkit/interface_table.h"
#include "comkit/object_root.h"
#include "dialer/event_sink.h"
#include "telephony/tapi.h"

class CTAPIDialer : public CComObjectRootEx<CComMultiThreadModel>,
                    public IDispatchImpl<ITAPIDialer, &IID_ITAPIDialer, &LIBID_BREVLINLib, 1, 0>,
                    public CComControl<CTAPIDialer>,
                    public IPersistStreamInitImpl<CTAPIDialer>,
                    public IOleControlImpl<CTAPIDialer>,
                    public IOleObjectImpl<CTAPIDialer>,
                    public IOleInPlaceActiveObjectImpl<CTAPIDialer>,
                    public IViewObjectExImpl<CTAPIDialer>,
                    public IOleInPlaceObjectWindowlessImpl<CTAPIDialer>,
                    public CComCoClass<CTAPIDialer, &CLSID_TAPIDialer>,
                    public IObjectSafetyImpl<CTAPIDialer, INTERFACESAFE_FOR_UNTRUSTED_CALLER |
                                                              INTERFACESAFE_FOR_UNTRUSTED_DATA> {
public:
    CTAPIDialer() noexcept;
    CTAPIDialer(const CTAPIDialer&) = delete;
    CTAPIDialer& operator=(const CTAPIDialer&) = delete;

    HRESULT _InternalQueryInterface(REFIID riid, void** ppv) noexcept {
        using comkit::Entry;
        return comkit::QueryInterfaceTable(
            this, riid, ppv, Entry<ITAPIDialer>(), Entry<ITAPIDialer>(IID_IDispatch),
            Entry<IViewObjectEx>(IID_IViewObjectEx), Entry<IViewObjectEx>(IID_IViewObject2),
            Entry<IViewObjectEx>(IID_IViewObject),
            Entry<IOleInPlaceObjectWindowless>(IID_IOleInPlaceObjectWindowless),
            Entry<IOleInPlaceObjectWindowless>(IID_IOleInPlaceObject),
            Entry<IOleInPlaceObjectWindowless>(IID_IOleWindow),
            Entry<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject),
            Entry<IOleControl>(IID_IOleControl), Entry<IOleObject>(IID_IOleObject),
            Entry<IPersistStreamInit>(IID_IPersistStreamInit),
            Entry<IPersistStreamInit>(IID_IPersist), Entry<IObjectSafety>(IID_IObjectSafety));
    }

    // Creation: the call lock, then the telephony root object (created, not
    // initialised). A failure of either destroys the new object.
    HRESULT InitialConstruct() noexcept;
    HRESULT FinalConstruct() noexcept;
    void FinalRelease() noexcept {}

    // ITAPIDialer, in table order. A null out pointer gives E_POINTER and
    // changes nothing. Without a root object (after ShutdownTAPI or a failed
    // InitializeTAPI) SetDeviceAddress and GetAddressNameCSVList enumerate
    // nothing, hand out nothing and answer E_FAIL.
    STDMETHOD(Connect)(BSTR bstrNumber) noexcept override;
    STDMETHOD(InitializeTAPI)() noexcept override;
    STDMETHOD(ShutdownTAPI)() noexcept override;
    STDMETHOD(Disconnect)() noexcept override;
    STDMETHOD(get_Connected)(VARIANT_BOOL* pVal) noexcept override;
    STDMETHOD(GetAddressNameCSVList)(BSTR* strAddressNameCSVList) noexcept override;
    // Reads nothing without an initialised root object, and only files on
    // local drives once a host has enabled INTERFACESAFE_FOR_UNTRUSTED_CALLER.
    STDMETHOD(ReadDeviceAddressFromFile)
    (BSTR strFileSpec, VARIANT_BOOL* bSuccess) noexcept override;
    STDMETHOD(SetDeviceAddress)(BSTR strDeviceId, VARIANT_BOOL* bSuccess) noexcept override;

    // The sink's way in when the call it follows reports disconnected
    // (`call` is that call's identity, held by the sink meanwhile), on
    // whatever thread the service delivers on; bookkeeping alone, never a
    // wait for the host. The end is marked. If no member of this dialer is
    // running and the call was started, the road goes to its drop: `here`
    // (the event came on the thread that made the call) hands the call back
    // for the sink to hang up and release there, holding the road; a call
    // not bound to a single-threaded apartment goes to a thread of the
    // dialer's own. Otherwise the member running drops it before it frees
    // the road, else the host's next member or read of Connected.
    Microsoft::WRL::ComPtr<ITBasicCallControl> TakeEndedCall(IUnknown* call, bool here) noexcept;
    // Frees the road, after hanging up an ended call handed to it; what a
    // drop holding the road does once it is done too.
    void LeaveRoad() noexcept;

    // The control has no picture of its own: containers show a fixed label.
    HRESULT OnDraw(HDC dc, const RECTL& bounds) noexcept;

protected:
    // Destruction calls neither ShutdownTAPI nor Disconnect: the references
    // held are released as they are, the root object without Shutdown.
    ~CTAPIDialer();

private:
    // Address discovery and selection. A fresh walk over the service's
    // addresses; without a root object, or for an enumerator that does not
    // come, the failure to pass on.
    HRESULT EnumerateAddresses(Microsoft::WRL::ComPtr<IEnumAddress>& addresses) noexcept;
    static bool IsSuitableAddress(ITAddress* address) noexcept;
    // The first suitable address, its reference passing to the caller; null if none.
    Microsoft::WRL::ComPtr<ITAddress> FindSuitableAddress() noexcept;
    bool EnsureAddress() noexcept;

    // Call events: makes sure the sink is advised (once per dialer) and the
    // call notifications watch the selected address, moving them there from
    // another address if need be.
    HRESULT RegisterForCallEvents() noexcept;
    HRESULT AdviseEventSink() noexcept;

    // Every member that calls the service runs as the one road of its
    // dialer. A member let in on the same thread while a road waits inside
    // the service (a single-threaded host's pumping wait lets queued calls
    // in) is refused with E_ILLEGAL_METHOD_CALL and a message: the outer
    // member still holds what it is working on. Another thread's member
    // waits for the road. Leaving drops an ended call handed to the road.
    // A member holds a reference on its dialer for as long as it runs, so a
    // host that lets go of the dialer from inside a member's pumping wait
    // destroys it only once the member returns.
    class Road;
    bool EnterRoad() noexcept;
    // Connected's part: on the thread a call is bound to, an ended call that
    // waits for it is dropped on the road, if the road is free.
    void DropEndedCallHere() noexcept;

    // Selects the first address of that name if it is suitable.
    HRESULT SelectAddressNamed(BSTR strDeviceId, VARIANT_BOOL* bSuccess) noexcept;

    // Call placement, after the address is settled; errorText receives the
    // message for a failure that has one.
    HRESULT PlaceCall(BSTR bstrNumber, comkit::UniqueBstr& errorText) noexcept;
    HRESULT SelectTerminalsOnCall(ITBasicCallControl* call) noexcept;

    // m_pCall and what goes with it change only under m_csCall, held for
    // bookkeeping alone: a call is taken out under the lock and hung up or
    // released after it, so that the service's thread never waits there
    // for a hang-up.
    //
    // The current call, with its identity; the sink follows it from its
    // first state on, knowing where it may be used.
    void StoreCall(Microsoft::WRL::ComPtr<ITBasicCallControl> call) noexcept;
    void MarkCallStarted(ITBasicCallControl* call) noexcept;
    // Takes the current call out; `started` tells whether its connect was
    // started. With onlyStarted, a call never started stays.
    Microsoft::WRL::ComPtr<ITBasicCallControl> TakeCall(bool onlyStarted, bool& started) noexcept;
    Microsoft::WRL::ComPtr<ITBasicCallControl> TakeCallLocked(bool onlyStarted,
                                                              bool& started) noexcept;
    // The current call if the service reported it ended and it was started;
    // the caller holds m_csCall.
    Microsoft::WRL::ComPtr<ITBasicCallControl> TakeEndedCallLocked() noexcept;

    Microsoft::WRL::ComPtr<ITTAPI> m_pTapi;
    Microsoft::WRL::ComPtr<ITAddress> m_pAddress;
    Microsoft::WRL::ComPtr<ITBasicCallControl> m_pCall;
    bool m_bCallActive = false;
    DWORD m_dwAdviseCookie = 0;
    LONG m_lCallRegister = 0;
    // Set while the call-notification registration watches m_pAddress; a
    // new selection of another address clears it, and the next Connect
    // moves the registration.
    bool m_bRegisteredForAddress = false;
    // Set by a successful InitializeTAPI, cleared by ShutdownTAPI.
    bool m_bTapiInitialized = false;
    // Set once the sink is advised, and kept for the dialer's life, with a
    // reference of the dialer's own. The connection point holds the sink too
    // and may outlive the dialer; the dialer's reference keeps Connected
    // readable whatever the service does, and the destructor cuts the sink's
    // way back to the dialer. Atomic: one road writes it while Connected, on
    // any thread, and the service's thread read it.
    std::atomic<CTAPIDialerEventNotification*> m_pEventSink{nullptr};
    CTAPIDialerEventNotification* Sink() const noexcept { return m_pEventSink.load(); }
    CComCriticalSection m_csCall;
    // Under m_csCall: m_pCall's identity (it holds no reference: m_pCall
    // holds the object), the thread of the single-threaded apartment it is
    // bound to (0 when the dialer's own thread may use it too), whether the
    // service reported it ended, and the thread running a road (0: none;
    // kDialersOwnThread for a drop on the thread pool), with the condition
    // another thread's member waits on.
    IUnknown* m_pCallIdentity = nullptr;
    DWORD m_dwBoundThread = 0;
    bool m_bCallEnded = false;
    DWORD m_dwRoadThread = 0;
    CONDITION_VARIABLE m_roadFree = CONDITION_VARIABLE_INIT;
};
