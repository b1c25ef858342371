#include "drop_after_end.h"

#include <chrono>
#include <vector>

#include "rounds.h"

using Microsoft::WRL::ComPtr;

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kLimit = std::chrono::seconds(2);
constexpr DISPID kConnected = 5;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Connected as a script reads it, late bound.
bool ReadConnected(IDispatch* dialer) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT v;
    VariantInit(&v);
    dialer->Invoke(kConnected, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &v,
                   nullptr, nullptr);
    const bool connected = v.vt == VT_BOOL && v.boolVal == VARIANT_TRUE;
    VariantClear(&v);
    return connected;
}

// One round: a call connected, its end reported, the host reading Connected
// until the service has seen the call hung up. Adds how long after the
// report the host read false and the hang-up returned.
void OneEnd(telsim::Service& service, ITAPIDialer* dialer, IDispatch* script,
            std::vector<double>& toFalse, std::vector<double>& toDrop) {
    const Bstr number(L"5550100");
    Check(dialer->Connect(number.Get()), "Connect");
    const auto connecting = Clock::now();
    while (!ReadConnected(script)) {
        SwitchToThread();
        if (Clock::now() - connecting > kLimit) {
            Fail("the dialer's call did not connect");
        }
    }
    service.Notifications().WaitIdle();
    service.Notifications().TakeHangUpMoments();

    telsim::EventSpec end;
    end.callState = CS_DISCONNECTED;
    end.cause = CEC_DISCONNECT_NORMAL;
    {
        const ComPtr<ITBasicCallControl> call = service.World().Calls().back();
        end.call = call.Get();
        const auto reported = Clock::now();
        Check(service.Notifications().RaiseEvent(end), "reporting the call's end");
        end.call = nullptr;
        double sawFalse = -1;
        std::vector<Clock::time_point> dropped;
        // Yields while it polls: on a busy machine a spinning host thread
        // would keep the service's thread and the dialer's from running.
        while (dropped.empty()) {
            const bool connected = ReadConnected(script);
            if (!connected && sawFalse < 0) {
                sawFalse = Ms(Clock::now() - reported);
            }
            SwitchToThread();
            dropped = service.Notifications().TakeHangUpMoments();
            if (Clock::now() - reported > kLimit) {
                Fail("an ended agile call was not dropped within 2 s while the host polled");
            }
        }
        while (sawFalse < 0) {
            if (!ReadConnected(script)) {
                sawFalse = Ms(Clock::now() - reported);
            }
        }
        toFalse.push_back(sawFalse);
        toDrop.push_back(Ms(dropped.front() - reported));
    }
    service.Notifications().WaitIdle();
}

}  // namespace

void DropAfterAnEnd(Component& component, telsim::Service& service, const Settings& settings) {
    Header("Drop after an agile call's end (the host only polls Connected)");
    service.World().SetDelivery(telsim::Delivery::Apartment);
    service.World().SetObjects(telsim::Objects::Agile);
    service.World().SetCallScript(telsim::CallScript{});
    ComPtr<ITAPIDialer> dialer = NewDialer(component);
    ComPtr<IDispatch> script;
    Check(dialer.As(&script), "IDispatch of the dialer");
    Check(dialer->InitializeTAPI(), "InitializeTAPI");
    const std::size_t misusesBefore = service.Ledger().Misuses().size();
    service.Notifications().TimeSinkCalls(true);
    std::vector<double> toFalse;
    std::vector<double> toDrop;
    for (int i = 0; i < settings.eventRounds; ++i) {
        OneEnd(service, dialer.Get(), script.Get(), toFalse, toDrop);
    }
    service.Notifications().TimeSinkCalls(false);
    std::vector<double> eventMs;
    for (const auto time : service.Notifications().TakeSinkCallTimes()) {
        eventMs.push_back(Ms(time));
    }
    dialer->ShutdownTAPI();
    dialer.Reset();
    script.Reset();
    service.Notifications().WaitIdle();
    service.World().SetObjects(telsim::Objects::Bound);
    if (service.Ledger().Misuses().size() != misusesBefore) {
        Fail("the dialer asked the service for work from inside Event");
    }
    std::vector<double> ratios;
    for (std::size_t i = 0; i < toDrop.size(); ++i) {
        ratios.push_back(toFalse[i] > 0 ? toDrop[i] / toFalse[i] : 0);
    }
    Row("dropped after the end is reported, median", Median(toDrop), "ms",
        "Connected read false, median", Median(ratios));
    Row("dropped after the end is reported, 99th pct", Percentile(toDrop, 0.99), "ms", "-", 0,
        "goal <= 50 ms");
    Row("Connected read false after the end, median", Median(toFalse), "ms");
    Row("Event meanwhile, median", Median(eventMs), "ms");
    Row("Event meanwhile, 99th pct", Percentile(eventMs, 0.99), "ms", "-", 0, "goal <= 50 ms");
}

}  // namespace bench
