#include "telsim/events.h"

#include "telsim/call.h"
#include "telsim/service_core.h"

namespace telsim {
namespace {

HRESULT HandOutCall(ServiceCore& core, const wchar_t* name, Call* call, HRESULT result, bool nullCall,
                    ITCallInfo** out) noexcept {
    const Gate gate = core.Begin(name, [&] { return call ? call->Describe() : std::wstring(L"null"); });
    if (!out) return core.Finish(gate, E_POINTER);
    *out = nullptr;
    if (FAILED(gate.fault)) return core.Finish(gate, gate.fault);
    if (FAILED(result)) return core.Finish(gate, result);
    if (gate.nullOut || nullCall || !call) return core.Finish(gate, S_OK);
    call->AddRef();
    *out = call;
    return core.Finish(gate, S_OK);
}

// The event interface is the one that the event kind names; a test may
// take it away, and a fault may fail the query.
HRESULT QueryEventInterface(ServiceCore& core, const wchar_t* name, bool offered, IUnknown* itf,
                            void** ppv) noexcept {
    const Gate gate = core.Begin(name, [] { return std::wstring(); }, true);
    if (FAILED(gate.fault)) return core.Finish(gate, gate.fault);
    if (!offered) return core.Finish(gate, E_NOINTERFACE);
    if (gate.nullOut) return core.Finish(gate, S_OK);
    itf->AddRef();
    *ppv = itf;
    return core.Finish(gate, S_OK);
}

}  // namespace

CallStateEvent::CallStateEvent(ServiceCore& core, EventCall call, CALL_STATE state, CALL_STATE_EVENT_CAUSE cause,
                               long callbackInstance, bool withInterface) noexcept
    : SimObject(core, L"CallStateEvent"),
      call_(call.call),
      getCallResult_(call.getCallResult),
      nullCall_(call.nullCall),
      state_(state),
      cause_(cause),
      callbackInstance_(callbackInstance),
      withInterface_(withInterface) {}

HRESULT CallStateEvent::Query(REFIID riid, void** ppv) noexcept {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
        *ppv = static_cast<ITCallStateEvent*>(this);
        AddRef();
        return S_OK;
    }
    if (IsEqualIID(riid, IID_ITCallStateEvent)) {
        return QueryEventInterface(core_, op::QueryCallStateEvent, withInterface_, static_cast<ITCallStateEvent*>(this),
                                   ppv);
    }
    return E_NOINTERFACE;
}

HRESULT CallStateEvent::get_Call(ITCallInfo** call) noexcept {
    return HandOutCall(core_, op::CallStateEventGetCall, call_.Get(), getCallResult_, nullCall_, call);
}

HRESULT CallStateEvent::get_State(CALL_STATE* state) noexcept {
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
}

HRESULT CallStateEvent::get_Cause(CALL_STATE_EVENT_CAUSE* cause) noexcept {
    if (!cause) return E_POINTER;
    *cause = cause_;
    return S_OK;
}

HRESULT CallStateEvent::get_CallbackInstance(long* instance) noexcept {
    if (!instance) return E_POINTER;
    *instance = callbackInstance_;
    return S_OK;
}

CallNotificationEvent::CallNotificationEvent(ServiceCore& core, EventCall call, long callbackInstance,
                                             bool withInterface) noexcept
    : SimObject(core, L"CallNotificationEvent"),
      call_(call.call),
      getCallResult_(call.getCallResult),
      nullCall_(call.nullCall),
      callbackInstance_(callbackInstance),
      withInterface_(withInterface) {}

HRESULT CallNotificationEvent::Query(REFIID riid, void** ppv) noexcept {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
        *ppv = static_cast<ITCallNotificationEvent*>(this);
        AddRef();
        return S_OK;
    }
    if (IsEqualIID(riid, IID_ITCallNotificationEvent)) {
        return QueryEventInterface(core_, op::QueryCallNotificationEvent, withInterface_,
                                   static_cast<ITCallNotificationEvent*>(this), ppv);
    }
    return E_NOINTERFACE;
}

HRESULT CallNotificationEvent::get_Call(ITCallInfo** call) noexcept {
    return HandOutCall(core_, op::CallNotificationEventGetCall, call_.Get(), getCallResult_, nullCall_, call);
}

HRESULT CallNotificationEvent::get_Event(CALL_NOTIFICATION_EVENT* event) noexcept {
    if (!event) return E_POINTER;
    *event = CNE_MONITOR;
    return S_OK;
}

HRESULT CallNotificationEvent::get_CallbackInstance(long* instance) noexcept {
    if (!instance) return E_POINTER;
    *instance = callbackInstance_;
    return S_OK;
}

}  // namespace telsim
