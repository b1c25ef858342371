#include "telsim/events.h"

#include "telsim/call.h"
#include "telsim/telsim.h"

namespace telsim {
namespace {

// `call` is the event's link to its call (null once the event is gone).
HRESULT HandOutCall(Recorder& recorder, const wchar_t* op, Call* call, const EventCall& about,
                    ITCallInfo** out) noexcept {
    const auto args = [&] { return call ? call->Describe() : std::wstring(L"null"); };
    return recorder.Run(op, args, [&](const Gate& gate) -> HRESULT {
        RETURN_IF_FAILED(gate.AdmitOut(out));
        RETURN_IF_FAILED(about.getCallResult);
        if (gate.nullOut || about.nullCall || !call) {
            return S_OK;
        }
        call->AddRef();
        *out = call;
        return S_OK;
    });
}

}  // namespace

CallStateEvent::CallStateEvent(Service& service, EventCall call, CALL_STATE state, CALL_STATE_EVENT_CAUSE cause,
                               long callbackInstance, bool withInterface) noexcept
    : SimObject(service, L"CallStateEvent"),
      call_(call.call),
      about_(call),
      state_(state),
      cause_(cause),
      callbackInstance_(callbackInstance),
      withInterface_(withInterface) {}

HRESULT CallStateEvent::Query(REFIID riid, void** ppv) noexcept {
    if (IsEqualIID(riid, IID_ITCallStateEvent)) {
        // The interface the event kind names: a test may take it away.
        return QueryOptional(op::QueryCallStateEvent, withInterface_, static_cast<ITCallStateEvent*>(this), ppv);
    }
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) {
        return E_NOINTERFACE;
    }
    *ppv = static_cast<ITCallStateEvent*>(this);
    AddRef();
    return S_OK;
}

HRESULT CallStateEvent::get_Call(ITCallInfo** call) noexcept {
    return HandOutCall(Recorder(), op::CallStateEventGetCall, call_.Get(), about_, call);
}

HRESULT CallStateEvent::get_State(CALL_STATE* state) noexcept {
    if (!state) {
        return E_POINTER;
    }
    *state = state_;
    return S_OK;
}

HRESULT CallStateEvent::get_Cause(CALL_STATE_EVENT_CAUSE* cause) noexcept {
    if (!cause) {
        return E_POINTER;
    }
    *cause = cause_;
    return S_OK;
}

HRESULT CallStateEvent::get_CallbackInstance(long* instance) noexcept {
    if (!instance) {
        return E_POINTER;
    }
    *instance = callbackInstance_;
    return S_OK;
}

CallNotificationEvent::CallNotificationEvent(Service& service, EventCall call, long callbackInstance,
                                             bool withInterface) noexcept
    : SimObject(service, L"CallNotificationEvent"),
      call_(call.call),
      about_(call),
      callbackInstance_(callbackInstance),
      withInterface_(withInterface) {}

HRESULT CallNotificationEvent::Query(REFIID riid, void** ppv) noexcept {
    if (IsEqualIID(riid, IID_ITCallNotificationEvent)) {
        return QueryOptional(op::QueryCallNotificationEvent, withInterface_,
                             static_cast<ITCallNotificationEvent*>(this), ppv);
    }
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) {
        return E_NOINTERFACE;
    }
    *ppv = static_cast<ITCallNotificationEvent*>(this);
    AddRef();
    return S_OK;
}

HRESULT CallNotificationEvent::get_Call(ITCallInfo** call) noexcept {
    return HandOutCall(Recorder(), op::CallNotificationEventGetCall, call_.Get(), about_, call);
}

HRESULT CallNotificationEvent::get_Event(CALL_NOTIFICATION_EVENT* event) noexcept {
    if (!event) {
        return E_POINTER;
    }
    *event = CNE_MONITOR;
    return S_OK;
}

HRESULT CallNotificationEvent::get_CallbackInstance(long* instance) noexcept {
    if (!instance) {
        return E_POINTER;
    }
    *instance = callbackInstance_;
    return S_OK;
}

}  // namespace telsim
