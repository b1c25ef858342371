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

class CallStateEvent final : public SimObject, public ITCallStateEvent {
public:
    CallStateEvent(Service& service, EventCall call, CALL_STATE state, CALL_STATE_EVENT_CAUSE cause,
                   long callbackInstance, bool withInterface) noexcept;

    TELSIM_IUNKNOWN
    TELSIM_NO_DISPATCH

    STDMETHODIMP get_Call(ITCallInfo** call) noexcept override;
    STDMETHODIMP get_State(CALL_STATE* state) noexcept override;
    STDMETHODIMP get_Cause(CALL_STATE_EVENT_CAUSE* cause) noexcept override;
    STDMETHODIMP get_CallbackInstance(long* instance) noexcept override;

private:
    HRESULT Query(REFIID riid, void** ppv) noexcept;
    void OnDestroy() noexcept override { call_.Reset(); }

    Held<Call> call_;
    const EventCall about_;
    const CALL_STATE state_;
    const CALL_STATE_EVENT_CAUSE cause_;
    const long callbackInstance_;
    const bool withInterface_;
};

class CallNotificationEvent final : public SimObject, public ITCallNotificationEvent {
public:
    CallNotificationEvent(Service& service, EventCall call, long callbackInstance, bool withInterface) noexcept;

    TELSIM_IUNKNOWN
    TELSIM_NO_DISPATCH

    STDMETHODIMP get_Call(ITCallInfo** call) noexcept override;
    STDMETHODIMP get_Event(CALL_NOTIFICATION_EVENT* event) noexcept override;
    STDMETHODIMP get_CallbackInstance(long* instance) noexcept override;

private:
    HRESULT Query(REFIID riid, void** ppv) noexcept;
    void OnDestroy() noexcept override { call_.Reset(); }

    Held<Call> call_;
    const EventCall about_;
    const long callbackInstance_;
    const bool withInterface_;
};

}  // namespace telsim
