// The event objects handed to ITTAPIEventNotification::Event.
#pragma once

#include "telsim/sim_object.h"

namespace telsim {

class Call;

// How an event object answers about its call.
struct EventCall {
    Call* call = nullptr;
    HRESULT getCallResult = S_OK;
    bool nullCall = false;
};

// What every event shares: the call it is about, the callback instance, and
// whether it offers the interface its kind names.
class EventBase : public SimObject {
protected:
    EventBase(Service& service, const wchar_t* kind, EventCall call, long callbackInstance,
              bool withInterface) noexcept;

    // get_Call, recorded under op.
    HRESULT GetCall(const wchar_t* op, ITCallInfo** out) noexcept;
    // The event interface iid (taken away by withInterface false; its query
    // recorded under queryOp), IDispatch and IUnknown.
    HRESULT QueryEvent(REFIID riid, REFIID iid, const wchar_t* queryOp, IDispatch* itf,
                       void** ppv) noexcept;
    void OnDestroy() noexcept override { call_.Reset(); }

    const long callbackInstance_;

private:
    Held<Call> call_;
    const EventCall about_;
    const bool withInterface_;
};

class CallStateEvent final : public EventBase, public ITCallStateEvent {
public:
    CallStateEvent(Service& service, EventCall call, CALL_STATE state, CALL_STATE_EVENT_CAUSE cause,
                   long callbackInstance, bool withInterface) noexcept;

    TELSIM_IUNKNOWN
    TELSIM_NO_DISPATCH

    STDMETHODIMP get_Call(ITCallInfo** call) noexcept override;
    STDMETHODIMP get_State(CALL_STATE* state) noexcept override {
        return ReadProperty(state, state_);
    }
    STDMETHODIMP get_Cause(CALL_STATE_EVENT_CAUSE* cause) noexcept override {
        return ReadProperty(cause, cause_);
    }
    STDMETHODIMP get_CallbackInstance(long* instance) noexcept override {
        return ReadProperty(instance, callbackInstance_);
    }

private:
    HRESULT Query(REFIID riid, void** ppv) noexcept;

    const CALL_STATE state_;
    const CALL_STATE_EVENT_CAUSE cause_;
};

class CallNotificationEvent final : public EventBase, public ITCallNotificationEvent {
public:
    CallNotificationEvent(Service& service, EventCall call, long callbackInstance,
                          bool withInterface) noexcept;

    TELSIM_IUNKNOWN
    TELSIM_NO_DISPATCH

    STDMETHODIMP get_Call(ITCallInfo** call) noexcept override;
    STDMETHODIMP get_Event(CALL_NOTIFICATION_EVENT* event) noexcept override {
        return ReadProperty(event, CNE_MONITOR);
    }
    STDMETHODIMP get_CallbackInstance(long* instance) noexcept override {
        return ReadProperty(instance, callbackInstance_);
    }

private:
    HRESULT Query(REFIID riid, void** ppv) noexcept;
};

}  // namespace telsim
