#include "hang_up.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "rounds.h"
#include "support/host_window.h"

using Microsoft::WRL::ComPtr;

namespace bench {
namespace {

constexpr DWORD kHangupMs = 2000;
// Between one delivery's end and the next event: a line reports a few
// states a second, and the host's hang-up sees many of them.
constexpr DWORD kEventGapMs = 50;

using test_support::HostWindow;

// What happens while the host's thread is inside its Disconnect.
enum class Meanwhile {
    Nothing,
    // The service delivers the end of the call being hung up, then states
    // of other calls.
    Events,
    // The host, let in while it waits, tries to dial again (the dialer
    // refuses a member let in during another); then the service delivers
    // the end of the call and states of other calls.
    RedialAndEvents,
};

// Raises, while `inside` holds, the end of each of `ends`, then states of
// other calls. Each is delivered before the next is raised, so a held
// delivery delays the later ones instead of queueing them behind it.
void RaiseWhileInside(telsim::Service& service, const std::vector<IUnknown*>& ends,
                      const std::atomic<bool>& inside) {
    telsim::EventSpec event;
    event.callState = CS_DISCONNECTED;
    event.cause = CEC_DISCONNECT_NORMAL;
    for (std::size_t i = 0; inside.load(); ++i) {
        event.call = i < ends.size() ? ends[i] : nullptr;
        Check(service.Notifications().RaiseEvent(event), "raising an event");
        service.Notifications().WaitIdle();
        if (i >= ends.size()) {
            event.callState = event.callState == CS_CONNECTED ? CS_DISCONNECTED : CS_CONNECTED;
            event.cause = CEC_NONE;
        }
        Sleep(kEventGapMs);
    }
}

// A connected call of a new dialer hung up by the host; the time of its
// Disconnect in ms. The times of the events delivered meanwhile are added
// to `eventMs`.
double HangUp(Component& component, telsim::Service& service, Meanwhile meanwhile,
              std::vector<double>& eventMs) {
    const Bstr number(L"5550100");
    ComPtr<ITAPIDialer> dialer = NewDialer(component);
    Check(dialer->InitializeTAPI(), "InitializeTAPI");
    Check(dialer->Connect(number.Get()), "Connect");
    service.Notifications().WaitIdle();
    VARIANT_BOOL connected = VARIANT_FALSE;
    dialer->get_Connected(&connected);
    if (connected != VARIANT_TRUE) {
        Fail("the dialer's call did not connect");
    }
    const ComPtr<ITBasicCallControl> first = service.World().Calls().back();

    HRESULT redialed = S_OK;
    const HostWindow window([&] { redialed = dialer->Connect(number.Get()); });
    if (!window.Handle()) {
        Fail("creating the host's window");
    }
    std::atomic<bool> inside{true};
    std::thread serviceThread;
    if (meanwhile != Meanwhile::Nothing) {
        service.Notifications().TimeSinkCalls(true);
        serviceThread = std::thread([&] {
            Sleep(kEventGapMs);
            const std::vector<IUnknown*> ends{first.Get()};
            if (meanwhile == Meanwhile::RedialAndEvents) {
                window.RunOnHostThread();
                service.Notifications().WaitIdle();
            }
            RaiseWhileInside(service, ends, inside);
        });
    }
    const double start = Now();
    const HRESULT hr = dialer->Disconnect();
    const double took = (Now() - start) * 1e3;
    inside.store(false);
    if (serviceThread.joinable()) {
        serviceThread.join();
    }
    service.Notifications().WaitIdle();
    service.Notifications().TimeSinkCalls(false);
    for (const auto time : service.Notifications().TakeSinkCallTimes()) {
        eventMs.push_back(std::chrono::duration<double, std::milli>(time).count());
    }
    Check(hr, "Disconnect");
    // E_ILLEGAL_METHOD_CALL: the dialer is busy with the hang-up.
    if (meanwhile == Meanwhile::RedialAndEvents && redialed != static_cast<HRESULT>(0x8000000EL)) {
        Fail("the Connect let in during the hang-up was not refused");
    }
    if (took < kHangupMs - 100) {
        Fail("the hang-up did not take the line's time");
    }
    dialer->ShutdownTAPI();
    return took;
}

}  // namespace

void EventsDuringAHangUp(Component& component, telsim::Service& service, const Settings& settings) {
    Header("Events while the host hangs up (a 2 s hang-up, faithful delivery)");
    service.World().SetDelivery(telsim::Delivery::Apartment);
    telsim::CallScript script;
    script.hangupMs = kHangupMs;
    service.World().SetCallScript(script);
    std::vector<double> eventMs;
    std::vector<double> afterRedialMs;
    std::vector<double> none;
    const Rounds rounds(
        settings.hangUpRounds,
        {[&] { return HangUp(component, service, Meanwhile::Events, eventMs); },
         [&] { return HangUp(component, service, Meanwhile::Nothing, none); },
         [&] { return HangUp(component, service, Meanwhile::RedialAndEvents, afterRedialMs); }});
    service.World().SetCallScript(telsim::CallScript{});
    if (eventMs.empty() || afterRedialMs.empty()) {
        Fail("no event was delivered during a hang-up");
    }
    Row("Event during the host's Disconnect, median", Median(eventMs), "ms");
    Row("Event during the host's Disconnect, 99th pct", Percentile(eventMs, 0.99), "ms", "-", 0,
        "goal <= 50 ms");
    Row("the same, host's redial refused meanwhile, median", Median(afterRedialMs), "ms");
    Row("the same, host's redial refused meanwhile, 99th pct", Percentile(afterRedialMs, 0.99),
        "ms", "-", 0, "goal <= 50 ms");
    Row("Disconnect, events delivered meanwhile", rounds.Median(0), "ms",
        "the same Disconnect, none delivered", rounds.Ratio(0, 1));
}

}  // namespace bench
