// A counted ITTAPIEventNotification for the service's tests: records every
// event with the state read from its call, the state and cause it carries
// itself, and the thread it came on.
#pragma once

#include "telsim/telsim.h"

#include <olectl.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include "support/adopt.h"
#include "support/apartment.h"
#include "support/bstr.h"
#include "support/hresult.h"
#include "support/test_double.h"

namespace telsim_test {

struct SeenEvent {
    TAPI_EVENT kind;
    HRESULT callResult;  // of get_Call
    CALL_STATE state;    // read from the call; -1 if not read
    DWORD thread;
    CALL_STATE eventState = static_cast<CALL_STATE>(-1);  // the event's own; -1 if none
    CALL_STATE_EVENT_CAUSE cause = CEC_NONE;
};

class FakeSink final
    : public test_support::TestDouble<ITTAPIEventNotification, &IID_ITTAPIEventNotification> {
public:
    static Microsoft::WRL::ComPtr<FakeSink> Make() { return test_support::Adopt(new FakeSink()); }

    STDMETHODIMP Event(TAPI_EVENT kind, IDispatch* event) noexcept override {
        SeenEvent seen{kind, E_NOINTERFACE, static_cast<CALL_STATE>(-1), GetCurrentThreadId()};
        Microsoft::WRL::ComPtr<ITCallStateEvent> stateEvent;
        Microsoft::WRL::ComPtr<ITCallInfo> call;
        if (event && SUCCEEDED(event->QueryInterface(IID_ITCallStateEvent, &stateEvent)) &&
            stateEvent) {
            stateEvent->get_State(&seen.eventState);
            stateEvent->get_Cause(&seen.cause);
            seen.callResult = stateEvent->get_Call(&call);
            CALL_STATE state = CS_IDLE;
            if (call && SUCCEEDED(call->get_CallState(&state)))
                seen.state = state;
        }
        {
            std::lock_guard<std::mutex> lock(mu_);
            events_.push_back(seen);
        }
        if (onEvent)
            onEvent(kind, call.Get());
        return S_OK;
    }

    std::vector<SeenEvent> Events() const {
        std::lock_guard<std::mutex> lock(mu_);
        return events_;
    }
    // Hands out the free-threaded marshaler from now on, as an agile sink does.
    void MakeAgile() { CoCreateFreeThreadedMarshaler(this, &marshaler_); }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (marshaler_ && IsEqualIID(riid, IID_IMarshal))
            return marshaler_->QueryInterface(riid, ppv);
        return TestDouble::QueryInterface(riid, ppv);
    }

    std::vector<CALL_STATE> States() const {
        std::vector<CALL_STATE> states;
        for (const SeenEvent& e : Events())
            states.push_back(e.state);
        return states;
    }
    // Runs inside Event, after the event has been recorded.
    std::function<void(TAPI_EVENT, ITCallInfo*)> onEvent;

private:
    FakeSink() = default;
    ~FakeSink() override = default;

    mutable std::mutex mu_;
    std::vector<SeenEvent> events_;
    Microsoft::WRL::ComPtr<IUnknown> marshaler_;
};

// A root object of svc, initialised, with the sink advised and the filter
// set (none: put_EventFilter never called).
struct Advised {
    Microsoft::WRL::ComPtr<ITTAPI> tapi;
    Microsoft::WRL::ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
};

inline Advised MakeAdvised(telsim::Service& svc, ITTAPIEventNotification* sink,
                           std::optional<long> filter = TE_CALLSTATE) {
    Advised result;
    EXPECT_HR(S_OK, svc.CreateRoot(nullptr, IID_ITTAPI, &result.tapi));
    EXPECT_HR(S_OK, result.tapi->Initialize());
    Microsoft::WRL::ComPtr<IConnectionPointContainer> container;
    EXPECT_HR(S_OK, result.tapi.As(&container));
    EXPECT_HR(S_OK, container->FindConnectionPoint(IID_ITTAPIEventNotification, &result.point));
    EXPECT_HR(S_OK, result.point->Advise(sink, &result.cookie));
    if (filter) {
        EXPECT_HR(S_OK, result.tapi->put_EventFilter(*filter));
    }
    return result;
}

inline Microsoft::WRL::ComPtr<ITAddress> FirstAddress(ITTAPI* tapi) {
    Microsoft::WRL::ComPtr<IEnumAddress> addresses;
    Microsoft::WRL::ComPtr<ITAddress> address;
    EXPECT_HR(S_OK, tapi->EnumerateAddresses(&addresses));
    if (addresses) {
        EXPECT_HR(S_OK, addresses->Next(1, &address, nullptr));
    }
    return address;
}

// A new call to a phone number for the dialer's media on the first line.
inline Microsoft::WRL::ComPtr<ITBasicCallControl> NewCall(ITTAPI* tapi) {
    Microsoft::WRL::ComPtr<ITBasicCallControl> call;
    const test_support::Bstr number(L"5550100");
    EXPECT_HR(S_OK,
              FirstAddress(tapi)->CreateCall(number.Get(), LINEADDRESSTYPE_PHONENUMBER,
                                             TAPIMEDIATYPE_AUDIO | TAPIMEDIATYPE_DATAMODEM, &call));
    return call;
}

// A test with its own service; Initialised() gives a new, initialised root.
class ServiceTest : public ::testing::Test {
protected:
    test_support::Apartment com;
    std::shared_ptr<telsim::Service> svc = telsim::Service::Create();

    Microsoft::WRL::ComPtr<ITTAPI> Initialised() {
        Microsoft::WRL::ComPtr<ITTAPI> tapi;
        EXPECT_HR(S_OK, svc->CreateRoot(nullptr, IID_ITTAPI, &tapi));
        EXPECT_HR(S_OK, tapi->Initialize());
        return tapi;
    }
};

// A ServiceTest that ends with the sinks let go and nothing of the service left.
class CleanServiceTest : public ServiceTest {
protected:
    void TearDown() override {
        svc->Notifications().WaitIdle();
        svc->Notifications().ReleaseSinks();
        EXPECT_EQ("", svc->Ledger().Leaks());
    }
};

}  // namespace telsim_test
