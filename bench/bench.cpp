// Brevlin's benchmarks: prints a table of medians over repeated rounds. A
// row with a reference is measured in the same rounds as its reference,
// alternating with it, and its ratio is the median of the per-round ratios.
//
//   brevlin_bench.exe PATH\Brevlin.dll [--quick]
//
// The component is loaded from the given DLL and reached through its class
// object, as a host reaches it; the telephony service is the simulated one,
// registered in this process. A measurement that cannot be made fails the
// run (exit 1) rather than print a number that means something else.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>
#include <vector>

#include "brevlin_idl.h"
#include "direct_calls.h"
#include "drop_after_end.h"
#include "hang_up.h"
#include "harness.h"
#include "rounds.h"
#include "telephony/tapi.h"
#include "telsim/telsim.h"

using Microsoft::WRL::ComPtr;
using namespace bench;

namespace {

HRESULT InvokeGet(IDispatch* object, DISPID id, VARIANT* result) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result,
                          nullptr, nullptr);
}

double InvokeLoop(int count, IDispatch* object, DISPID id) {
    return NsPerOp(count, [&] {
        VARIANT v;
        VariantInit(&v);
        InvokeGet(object, id, &v);
        VariantClear(&v);
    });
}

void ReadingConnected(Component& component, const Settings& settings) {
    Header("Reading Connected");
    ComPtr<ITAPIDialer> dialer = NewDialer(component);
    ComPtr<IDispatch> dictionary;
    CLSID dictionaryClass;
    DISPID countId = 0;
    LPOLESTR countName = const_cast<LPOLESTR>(L"Count");
    if (FAILED(CLSIDFromProgID(L"Scripting.Dictionary", &dictionaryClass)) ||
        FAILED(CoCreateInstance(dictionaryClass, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&dictionary))) ||
        FAILED(dictionary->GetIDsOfNames(IID_NULL, &countName, 1, LOCALE_USER_DEFAULT, &countId))) {
        Fail("Scripting.Dictionary is not available");
    }
    ComPtr<IDispatch> dispatch;
    Check(dialer.As(&dispatch), "IDispatch of the dialer");
    VARIANT probe;
    VariantInit(&probe);
    Check(InvokeGet(dispatch.Get(), 5, &probe), "Invoke of Connected");
    VariantClear(&probe);

    const int n = 5000;
    const Rounds rounds(settings.rounds,
                        {[&] {
                             return NsPerOp(n, [&] {
                                 VARIANT_BOOL v;
                                 dialer->get_Connected(&v);
                             });
                         },
                         [&] { return InvokeLoop(n, dispatch.Get(), 5); },
                         [&] { return InvokeLoop(n, dictionary.Get(), countId); }});
    enum { kVtable, kInvoke, kDictionary };
    Row("get_Connected through the virtual table", rounds.Median(kVtable), "ns");
    Row("Connected through IDispatch::Invoke", rounds.Median(kInvoke), "ns", "vtable get_Connected",
        rounds.Ratio(kInvoke, kVtable));
    Row("Connected through IDispatch::Invoke", rounds.Median(kInvoke), "ns",
        "Scripting.Dictionary Count, Invoke", rounds.Ratio(kInvoke, kDictionary), "goal <= 1.10");
    Row("Scripting.Dictionary Count through Invoke", rounds.Median(kDictionary), "ns");
}

void CreatingADialer(Component& component, const Settings& settings) {
    Header("Creating a dialer");
    const int n = 500;
    const Rounds rounds(settings.rounds,
                        {[&] {
                             return NsPerOp(n, [&] {
                                 ComPtr<ITAPIDialer> dialer;
                                 component.factory->CreateInstance(nullptr, IID_PPV_ARGS(&dialer));
                             });
                         },
                         [&] {
                             return NsPerOp(n, [&] {
                                 ComPtr<ITTAPI> tapi;
                                 CoCreateInstance(CLSID_TAPI, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_PPV_ARGS(&tapi));
                             });
                         }});
    Row("IClassFactory::CreateInstance + Release", rounds.Median(0), "ns",
        "telephony root object alone", rounds.Ratio(0, 1));
}

void PlacingCalls(Component& component, telsim::Service& service, const Settings& settings) {
    Header("Placing and dropping a call (events delivered synchronously)");
    service.World().SetDelivery(telsim::Delivery::Synchronous);
    Bstr number(L"+1 (555) 010-0100");
    const int n = 200;
    // Each side starts from a root object that has placed one call already,
    // so that the line is selected and the sink registered.
    auto throughDialer = [&] {
        ComPtr<ITAPIDialer> dialer = NewDialer(component);
        Check(dialer->InitializeTAPI(), "InitializeTAPI");
        Check(dialer->Connect(number.Get()), "the dialer's first Connect");
        dialer->Disconnect();
        HRESULT failure = S_OK;
        const double time = NsPerOp(n, [&] {
            const HRESULT connected = dialer->Connect(number.Get());
            const HRESULT disconnected = dialer->Disconnect();
            if (FAILED(connected) || FAILED(disconnected)) {
                failure = FAILED(connected) ? connected : disconnected;
            }
        });
        Check(failure, "Connect + Disconnect through the dialer");
        dialer->ShutdownTAPI();
        return time;
    };
    auto direct = [&] {
        DirectCalls calls;
        if (!calls.Ready()) {
            Fail("the direct service calls could not be set up");
        }
        Check(calls.Cycle(number.Get()), "the first direct call");
        HRESULT failure = S_OK;
        const double time = NsPerOp(n, [&] {
            const HRESULT hr = calls.Cycle(number.Get());
            if (FAILED(hr)) {
                failure = hr;
            }
        });
        Check(failure, "the direct service calls");
        return time;
    };
    const Rounds rounds(settings.rounds, {throughDialer, direct});
    Row("Connect + Disconnect through the dialer", rounds.Median(0), "ns",
        "the same service calls, direct", rounds.Ratio(0, 1), "goal <= 1.30");
}

void ListingLines(Component& component, telsim::Service& service, const Settings& settings) {
    Header("Listing lines");
    const int counts[2] = {1000, 10000};
    std::vector<telsim::AddressSpec> lines[2];
    for (int k = 0; k < 2; ++k) {
        lines[k].resize(counts[k]);
        for (int i = 0; i < counts[k]; ++i) {
            lines[k][i].name = L"Simulated line " + std::to_wstring(i);
        }
    }
    int current = -1;
    auto useLines = [&](int k) {
        if (current != k) {
            service.World().SetAddresses(lines[k]);
            current = k;
        }
    };
    // The time per line of one listing; the root objects are initialised
    // and shut down outside it.
    auto throughDialer = [&](int k) {
        useLines(k);
        ComPtr<ITAPIDialer> dialer = NewDialer(component);
        Check(dialer->InitializeTAPI(), "InitializeTAPI");
        HRESULT hr = S_OK;
        const double time = NsPerOp(1, [&] {
            BSTR list = nullptr;
            hr = dialer->GetAddressNameCSVList(&list);
            SysFreeString(list);
        });
        Check(hr, "GetAddressNameCSVList");
        dialer->ShutdownTAPI();
        return time / counts[k];
    };
    auto direct = [&](int k) {
        useLines(k);
        ComPtr<ITTAPI> tapi;
        Check(CoCreateInstance(CLSID_TAPI, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&tapi)),
              "creating a telephony root object");
        Check(tapi->Initialize(), "ITTAPI::Initialize");
        HRESULT hr = S_OK;
        const double time = NsPerOp(1, [&] { hr = ListDirectly(tapi.Get()); });
        Check(hr, "listing the lines directly");
        tapi->Shutdown();
        return time / counts[k];
    };
    const Rounds rounds(settings.listRounds,
                        {[&] { return throughDialer(0); }, [&] { return direct(0); },
                         [&] { return throughDialer(1); }, [&] { return direct(1); }});
    service.World().SetAddresses({{L"Line 1"}, {L"Line 2"}});
    enum { kDialer1k, kDirect1k, kDialer10k, kDirect10k };
    Row("GetAddressNameCSVList, 1,000 lines, per line", rounds.Median(kDialer1k), "ns");
    Row("GetAddressNameCSVList, 10,000 lines, per line", rounds.Median(kDialer10k), "ns",
        "per line at 1,000", rounds.Ratio(kDialer10k, kDialer1k), "goal <= 1.20");
    Row("GetAddressNameCSVList, 1,000 lines, per line", rounds.Median(kDialer1k), "ns",
        "the same service calls, direct", rounds.Ratio(kDialer1k, kDirect1k));
    Row("GetAddressNameCSVList, 10,000 lines, per line", rounds.Median(kDialer10k), "ns",
        "the same service calls, direct", rounds.Ratio(kDialer10k, kDirect10k));
    Row("service calls direct, 10,000 lines, per line", rounds.Median(kDirect10k), "ns",
        "per line at 1,000", rounds.Ratio(kDirect10k, kDirect1k));
}

// The time from a "connected" event queued on the service's notification
// thread until the host thread reads Connected true. The events are about
// the dialer's own call: it follows that call alone.
void EventToConnected(Component& component, telsim::Service& service, const Settings& settings) {
    Header("Event to Connected (notification thread to host thread)");
    const double limit = 2;  // seconds
    service.World().SetDelivery(telsim::Delivery::Synchronous);
    ComPtr<ITAPIDialer> dialer = NewDialer(component);
    Check(dialer->InitializeTAPI(), "InitializeTAPI");
    Bstr number(L"5550100");
    Check(dialer->Connect(number.Get()), "Connect");
    const std::vector<ComPtr<ITBasicCallControl>> calls = service.World().Calls();
    if (calls.empty()) {
        Fail("the dialer's call is not known to the service");
    }
    const ComPtr<ITBasicCallControl> call = calls.back();

    telsim::EventSpec idle;
    idle.callState = CS_IDLE;
    idle.call = call.Get();
    idle.delivery = telsim::Delivery::Synchronous;
    telsim::EventSpec connected = idle;
    connected.callState = CS_CONNECTED;
    connected.delivery = telsim::Delivery::NotificationThread;

    std::vector<double> delays;
    for (int i = 0; i < settings.eventRounds; ++i) {
        Check(service.Notifications().RaiseEvent(idle), "raising an idle event");
        VARIANT_BOOL v = VARIANT_TRUE;
        dialer->get_Connected(&v);
        if (v != VARIANT_FALSE) {
            Fail("the dialer did not follow an idle event about its own call");
        }
        const double start = Now();
        Check(service.Notifications().RaiseEvent(connected), "queueing a connected event");
        // Yields while it waits: on a busy machine a spinning host thread
        // would keep the notification thread from running.
        while (dialer->get_Connected(&v), v != VARIANT_TRUE) {
            SwitchToThread();
            if (Now() - start > limit) {
                std::printf("round %d: Connected was still false %.0f s after the event\n", i,
                            limit);
                Fail("a connected event about the dialer's call did not reach Connected");
            }
        }
        delays.push_back((Now() - start) * 1e6);
        service.Notifications().WaitIdle();
    }
    dialer->Disconnect();
    dialer->ShutdownTAPI();
    Row("queued \"connected\" to Connected true, median", Median(delays), "us");
    Row("queued \"connected\" to Connected true, 99th pct", Percentile(delays, 0.99), "us",
        "median", Percentile(delays, 0.99) / Median(delays));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: brevlin_bench PATH\\Brevlin.dll [--quick]\n");
        return 2;
    }
    const bool quick = argc > 2 && std::wstring(argv[2]) == L"--quick";
    const Settings settings = quick ? Settings{41, 31, 50, 3} : Settings{101, 61, 400, 7};
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    // The service as TelSim.dll serves hosts: it records no operation and
    // accounts no string, work that a test needs and a host never pays for.
    auto service = telsim::Service::CreateQuiet();
    service->World().SetAddresses({{L"Line 1"}, {L"Line 2"}});
    Check(service->RegisterClassObject(), "registering the simulated service");
    Component component;
    const HRESULT loaded = LoadComponent(argv[1], component);
    if (FAILED(loaded)) {
        std::printf("loading %ls failed\n", argv[1]);
        Fail("loading the component", loaded);
    }
    // Late-bound calls need the type library registered.
    Check(component.registerServer(), "DllRegisterServer");

    std::printf(
        "Brevlin benchmarks (%s): medians of %d rounds (line listings: %d); a row and its\n"
        "reference alternate round by round; ratio = median of the per-round ratios\n",
        sizeof(void*) == 8 ? "x64" : "x86", settings.rounds, settings.listRounds);
    std::printf("%-52s %16s %-34s %7s  %s\n", "row", "value", "reference", "ratio", "goal");

    ReadingConnected(component, settings);
    CreatingADialer(component, settings);
    PlacingCalls(component, *service, settings);
    ListingLines(component, *service, settings);
    EventToConnected(component, *service, settings);
    EventsDuringAHangUp(component, *service, settings);
    DropAfterAnEnd(component, *service, settings);

    component.unregisterServer();
    component.factory.Reset();
    service->Notifications().WaitIdle();
    service->RevokeClassObject();
    CoUninitialize();
    return 0;
}
