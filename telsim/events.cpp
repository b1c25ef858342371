#include "telsim/events.h"

#include "telsim/call.h"
#include "telsim/telsim.h"

namespace telsim {

EventBase::EventBase(Service& service, const wchar_t* kind, EventCall call, long callbackInstance,
                     bool withInterface) noexcept
    : SimObject(service, kind),
      callbackInstance_(callbackInstance),
      call_(call.call),
      about_(call),
      withInterface_(withInterface) {}

HRESULT EventBase::GetCall(const wchar_t* op, ITCallInfo** out) noexcept {
    // The link, not about_.call: null once the event is gone.
    Call* call = call_.Get();
    const auto args = [&] { return call ? call->Describe() : std::wstring(L"null"); };
    return Recorder().Run(op, args, [&](const Gate& gate) -> HRESULT {
        RETURN_IF_FAILED(gate.AdmitOut(out));
        RETURN_IF_FAILED(about_.getCallResult);
        if (gate.nullOut || about_.nullCall || !call) {
            return S_OK;
        }
        call->AddRef();
        *out = call;
        return S_OK;
    });
}

HRESULT EventBase::QueryEvent(REFIID riid, REFIID iid, const wchar_t* queryOp, IDispatch* itf,
                              void** ppv) noexcept {
    if (IsEqualIID(riid, iid)) {
        return QueryOptional(queryOp, withInterface_, itf, ppv);
    }
    return QueryOne(riid, IID_IDispatch, itf, ppv);
}

CallStateEvent::CallStateEvent(Service& service, EventCall call, CALL_STATE state,
                               CALL_STATE_EVENT_CAUSE cause, long callbackInstance,
                               bool withInterface) noexcept
    : EventBase(service, L"CallStateEvent", call, callbackInstance, withInterface),
      state_(state),
      cause_(cause) {}

HRESULT CallStateEvent::Query(REFIID riid, void** ppv) noexcept {
    return QueryEvent(riid, IID_ITCallStateEvent, op::QueryCallStateEvent,
                      static_cast<ITCallStateEvent*>(this), ppv);
}

HRESULT CallStateEvent::get_Call(ITCallInfo** call) noexcept {
    return GetCall(op::CallStateEventGetCall, call);
}

CallNotificationEvent::CallNotificationEvent(Service& service, EventCall call,
                                             long callbackInstance, bool withInterface) noexcept
    : EventBase(service, L"CallNotificationEvent", call, callbackInstance, withInterface) {}

HRESULT CallNotificationEvent::Query(REFIID riid, void** ppv) noexcept {
    return QueryEvent(riid, IID_ITCallNotificationEvent, op::QueryCallNotificationEvent,
                      static_cast<ITCallNotificationEvent*>(this), ppv);
}

HRESULT CallNotificationEvent::get_Call(ITCallInfo** call) noexcept {
    return GetCall(op::CallNotificationEventGetCall, call);
}

}  // namespace telsim
