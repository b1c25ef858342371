// Brevlin's benchmarks: prints a table of medians over repeated rounds, each
// row with its ratio to a reference measured in the same run.
//
//   brevlin_bench.exe PATH\Brevlin.dll [--quick]
//
// The component is loaded from the given DLL and reached through its class
// object, as a host reaches it; the telephony service is the simulated one,
// registered in this process.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "brevlin_idl.h"
#include "telephony/tapi.h"
#include "telsim/telsim.h"

using Microsoft::WRL::ComPtr;

namespace {

double Now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    if (v.empty())
        return 0;
    size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// Median over `rounds` rounds of the time per operation, in nanoseconds.
double NsPerOp(int rounds, int perRound, const std::function<void()>& op) {
    std::vector<double> samples;
    for (int r = 0; r < rounds; ++r) {
        const double start = Now();
        for (int i = 0; i < perRound; ++i)
            op();
        samples.push_back((Now() - start) * 1e9 / perRound);
    }
    return Median(samples);
}

void Row(const char* name, double value, const char* unit, const char* reference,
         double referenceValue, const char* goal = "") {
    std::printf("%-52s %12.1f %-3s %-34s %7.2f  %s\n", name, value, unit, reference,
                referenceValue > 0 ? value / referenceValue : 0.0, goal);
}

void Header(const char* title) {
    std::printf("\n%s\n", title);
}

struct Component {
    HMODULE module = nullptr;
    ComPtr<IClassFactory> factory;
    HRESULT(STDAPICALLTYPE* registerServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* unregisterServer)() = nullptr;
};

HRESULT LoadComponent(const wchar_t* path, Component& c) {
    c.module = LoadLibraryW(path);
    if (!c.module)
        return HRESULT_FROM_WIN32(GetLastError());
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject =
        reinterpret_cast<GetClassObject>(GetProcAddress(c.module, "DllGetClassObject"));
    c.registerServer =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(c.module, "DllRegisterServer"));
    c.unregisterServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        GetProcAddress(c.module, "DllUnregisterServer"));
    if (!getClassObject || !c.registerServer || !c.unregisterServer)
        return E_NOINTERFACE;
    return getClassObject(CLSID_TAPIDialer, IID_PPV_ARGS(&c.factory));
}

ComPtr<ITAPIDialer> NewDialer(Component& c) {
    ComPtr<ITAPIDialer> dialer;
    if (FAILED(c.factory->CreateInstance(nullptr, IID_PPV_ARGS(&dialer)))) {
        std::printf("creating a dialer failed\n");
        std::exit(1);
    }
    return dialer;
}

HRESULT InvokeGet(IDispatch* object, DISPID id, VARIANT* result) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result,
                          nullptr, nullptr);
}

// A sink that does what any client's sink must do with a call-state event,
// for the floor of the call cycle.
class FloorSink final : public ITTAPIEventNotification {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITTAPIEventNotification) {
            *ppv = static_cast<ITTAPIEventNotification*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return InterlockedIncrement(&m_ref); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return InterlockedDecrement(&m_ref); }
    STDMETHODIMP Event(TAPI_EVENT kind, IDispatch* event) noexcept override {
        if (kind != TE_CALLSTATE || !event)
            return S_OK;
        ComPtr<ITCallStateEvent> stateEvent;
        if (FAILED(event->QueryInterface(IID_PPV_ARGS(&stateEvent))))
            return S_OK;
        ComPtr<ITCallInfo> call;
        if (FAILED(stateEvent->get_Call(&call)) || !call)
            return S_OK;
        CALL_STATE state = CS_IDLE;
        call->get_CallState(&state);
        m_state = state;
        return S_OK;
    }
    volatile LONG m_state = 0;

private:
    LONG m_ref = 1;  // lives on the stack of the benchmark
};

// The service calls one Connect and Disconnect of the dialer make, made
// directly: the floor under the dialer's own work.
void FloorCycle(ITAddress* address, BSTR number) {
    ComPtr<ITAddressTranslation> translation;
    address->QueryInterface(IID_PPV_ARGS(&translation));
    ComPtr<ITAddressTranslationInfo> info;
    translation->TranslateAddress(number, 0, 0, &info);
    BSTR dialable = nullptr;
    info->get_DialableString(&dialable);
    info.Reset();
    ComPtr<ITBasicCallControl> call;
    address->CreateCall(dialable, LINEADDRESSTYPE_PHONENUMBER, telephony::DIALER_MEDIA_TYPES,
                        &call);
    SysFreeString(dialable);
    ComPtr<ITStreamControl> streamControl;
    ComPtr<IEnumStream> streams;
    if (SUCCEEDED(call.As(&streamControl)))
        streamControl->EnumerateStreams(&streams);
    streamControl.Reset();
    ComPtr<ITStream> stream;
    while (streams && streams->Next(1, &stream, nullptr) == S_OK) {
        long mediaType = 0;
        TERMINAL_DIRECTION direction;
        stream->get_MediaType(&mediaType);
        stream->get_Direction(&direction);
        ComPtr<ITTerminalSupport> terminals;
        address->QueryInterface(IID_PPV_ARGS(&terminals));
        ComPtr<ITTerminal> terminal;
        if (SUCCEEDED(terminals->GetDefaultStaticTerminal(mediaType, direction, &terminal)))
            stream->SelectTerminal(terminal.Get());
        stream.Reset();
    }
    streams.Reset();
    call->Connect(VARIANT_FALSE);
    call->Disconnect(DC_NORMAL);
}

// The service calls one GetAddressNameCSVList makes, made directly.
void FloorList() {
    ComPtr<ITTAPI> tapi;
    CoCreateInstance(CLSID_TAPI, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&tapi));
    tapi->Initialize();
    ComPtr<IEnumAddress> addresses;
    tapi->EnumerateAddresses(&addresses);
    ComPtr<ITAddress> address;
    std::wstring list;
    while (addresses->Next(1, &address, nullptr) == S_OK) {
        ComPtr<ITAddressCapabilities> capabilities;
        ComPtr<ITMediaSupport> media;
        long types = 0;
        VARIANT_BOOL supported = VARIANT_FALSE;
        address.As(&capabilities);
        capabilities->get_AddressCapability(AC_ADDRESSTYPES, &types);
        address.As(&media);
        media->QueryMediaType(telephony::DIALER_MEDIA_TYPES, &supported);
        BSTR name = nullptr;
        address->get_AddressName(&name);
        if (!list.empty())
            list += L',';
        list.append(name, SysStringLen(name));
        SysFreeString(name);
        address.Reset();
    }
    addresses.Reset();
    tapi->Shutdown();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: brevlin_bench PATH\\Brevlin.dll [--quick]\n");
        return 2;
    }
    const bool quick = argc > 2 && std::wstring(argv[2]) == L"--quick";
    const int rounds = quick ? 5 : 21;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    auto service = telsim::Service::Create();
    service->Recorder().SetRecording(false);
    if (FAILED(service->RegisterClassObject())) {
        std::printf("registering the simulated service failed\n");
        return 1;
    }
    Component component;
    HRESULT hr = LoadComponent(argv[1], component);
    if (FAILED(hr)) {
        std::printf("loading %ls failed: 0x%08lX\n", argv[1], static_cast<unsigned long>(hr));
        return 1;
    }
    // Late-bound calls need the type library registered.
    if (FAILED(hr = component.registerServer())) {
        std::printf("DllRegisterServer failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }

    std::printf(
        "Brevlin benchmarks: medians of %d rounds; ratio = value / reference measured in this "
        "run\n",
        rounds);
    std::printf("%-52s %16s %-34s %7s  %s\n", "row", "value", "reference", "ratio", "goal");

    {
        Header("Reading Connected");
        ComPtr<ITAPIDialer> dialer = NewDialer(component);
        ComPtr<IDispatch> dictionary;
        CLSID dictionaryClass;
        CLSIDFromProgID(L"Scripting.Dictionary", &dictionaryClass);
        CoCreateInstance(dictionaryClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dictionary));
        DISPID countId = 0;
        LPOLESTR countName = const_cast<LPOLESTR>(L"Count");
        if (!dictionary || FAILED(dictionary->GetIDsOfNames(IID_NULL, &countName, 1,
                                                            LOCALE_USER_DEFAULT, &countId))) {
            std::printf("Scripting.Dictionary is not available\n");
            return 1;
        }
        const int n = 20000;
        const double vtable = NsPerOp(rounds, n, [&] {
            VARIANT_BOOL v;
            dialer->get_Connected(&v);
        });
        ComPtr<IDispatch> dispatch;
        dialer.As(&dispatch);
        VARIANT probe;
        VariantInit(&probe);
        if (FAILED(hr = InvokeGet(dispatch.Get(), 5, &probe))) {
            std::printf("Invoke of Connected failed: 0x%08lX\n", static_cast<unsigned long>(hr));
            return 1;
        }
        const double lateBound = NsPerOp(rounds, n, [&] {
            VARIANT v;
            VariantInit(&v);
            InvokeGet(dispatch.Get(), 5, &v);
            VariantClear(&v);
        });
        const double platform = NsPerOp(rounds, n, [&] {
            VARIANT v;
            VariantInit(&v);
            InvokeGet(dictionary.Get(), countId, &v);
            VariantClear(&v);
        });
        Row("get_Connected through the virtual table", vtable, "ns", "-", 0);
        Row("Connected through IDispatch::Invoke", lateBound, "ns", "vtable get_Connected", vtable);
        Row("Connected through IDispatch::Invoke", lateBound, "ns",
            "Scripting.Dictionary Count, Invoke", platform, "goal <= 1.10");
    }

    {
        Header("Creating a dialer");
        const int n = 2000;
        const double create = NsPerOp(rounds, n, [&] {
            ComPtr<ITAPIDialer> dialer;
            component.factory->CreateInstance(nullptr, IID_PPV_ARGS(&dialer));
        });
        const double root = NsPerOp(rounds, n, [&] {
            ComPtr<ITTAPI> tapi;
            CoCreateInstance(CLSID_TAPI, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&tapi));
        });
        Row("IClassFactory::CreateInstance + Release", create, "ns", "telephony root object alone",
            root);
    }

    {
        Header("Placing and dropping a call (events delivered synchronously)");
        service->World().SetDelivery(telsim::Delivery::Synchronous);
        ComPtr<ITAPIDialer> dialer = NewDialer(component);
        dialer->InitializeTAPI();
        BSTR number = SysAllocString(L"+1 (555) 010-0100");
        dialer->Connect(number);  // selects the line and registers for events
        dialer->Disconnect();
        const int n = 500;
        const double cycle = NsPerOp(rounds, n, [&] {
            dialer->Connect(number);
            dialer->Disconnect();
        });
        dialer->ShutdownTAPI();
        dialer.Reset();

        ComPtr<ITTAPI> tapi;
        CoCreateInstance(CLSID_TAPI, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&tapi));
        tapi->Initialize();
        FloorSink sink;
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        tapi.As(&container);
        container->FindConnectionPoint(IID_ITTAPIEventNotification, &point);
        DWORD cookie = 0;
        point->Advise(&sink, &cookie);
        tapi->put_EventFilter(TE_CALLSTATE);
        ComPtr<IEnumAddress> addresses;
        tapi->EnumerateAddresses(&addresses);
        ComPtr<ITAddress> address;
        addresses->Next(1, &address, nullptr);
        long registration = 0;
        tapi->RegisterCallNotifications(address.Get(), VARIANT_TRUE, VARIANT_FALSE,
                                        telephony::DIALER_MEDIA_TYPES, cookie, &registration);
        const double floor = NsPerOp(rounds, n, [&] { FloorCycle(address.Get(), number); });
        tapi->UnregisterNotifications(registration);
        point->Unadvise(cookie);
        tapi->Shutdown();
        SysFreeString(number);
        Row("Connect + Disconnect through the dialer", cycle, "ns",
            "the same service calls, direct", floor, "goal <= 1.30");
    }

    {
        Header("Listing lines");
        double perAddress[2] = {}, floorPerAddress[2] = {};
        const int counts[2] = {1000, 10000};
        for (int k = 0; k < 2; ++k) {
            std::vector<telsim::AddressSpec> lines(counts[k]);
            for (int i = 0; i < counts[k]; ++i)
                lines[i].name = L"Simulated line " + std::to_wstring(i);
            service->World().SetAddresses(lines);
            ComPtr<ITAPIDialer> dialer = NewDialer(component);
            dialer->InitializeTAPI();
            const double perList = NsPerOp(quick ? 3 : 9, 1, [&] {
                BSTR list = nullptr;
                dialer->GetAddressNameCSVList(&list);
                SysFreeString(list);
            });
            perAddress[k] = perList / counts[k];
            dialer->ShutdownTAPI();
            dialer.Reset();
            floorPerAddress[k] = NsPerOp(quick ? 3 : 9, 1, [&] { FloorList(); }) / counts[k];
        }
        service->World().SetAddresses({{L"Line 1"}, {L"Line 2"}});
        Row("GetAddressNameCSVList, 1,000 lines, per line", perAddress[0], "ns", "-", 0);
        Row("GetAddressNameCSVList, 10,000 lines, per line", perAddress[1], "ns",
            "per line at 1,000", perAddress[0], "goal <= 1.20");
        Row("GetAddressNameCSVList, 1,000 lines, per line", perAddress[0], "ns",
            "the same service calls, direct", floorPerAddress[0]);
        Row("GetAddressNameCSVList, 10,000 lines, per line", perAddress[1], "ns",
            "the same service calls, direct", floorPerAddress[1]);
        Row("service calls direct, 10,000 lines, per line", floorPerAddress[1], "ns",
            "per line at 1,000", floorPerAddress[0]);
    }

    {
        Header("Event to Connected (notification thread to host thread)");
        service->World().SetDelivery(telsim::Delivery::Synchronous);
        ComPtr<ITAPIDialer> dialer = NewDialer(component);
        dialer->InitializeTAPI();
        BSTR number = SysAllocString(L"5550100");
        dialer->Connect(number);  // registers the sink
        dialer->Disconnect();
        SysFreeString(number);
        std::vector<double> delays;
        const int n = quick ? 50 : 400;
        for (int i = 0; i < n; ++i) {
            telsim::EventSpec idle;
            idle.callState = CS_IDLE;
            idle.delivery = telsim::Delivery::Synchronous;
            service->Notifications().RaiseEvent(idle);
            telsim::EventSpec connected;
            connected.callState = CS_CONNECTED;
            connected.delivery = telsim::Delivery::NotificationThread;
            const double start = Now();
            service->Notifications().RaiseEvent(connected);
            VARIANT_BOOL v = VARIANT_FALSE;
            while (dialer->get_Connected(&v), v != VARIANT_TRUE) {
                if (Now() - start > 2)
                    break;
            }
            delays.push_back((Now() - start) * 1e6);
            service->Notifications().WaitIdle();
        }
        dialer->ShutdownTAPI();
        Row("queued \"connected\" to Connected true, median", Median(delays), "us", "-", 0);
        Row("queued \"connected\" to Connected true, 99th pct", Percentile(delays, 0.99), "us",
            "median", Median(delays));
    }

    component.unregisterServer();
    component.factory.Reset();
    service->Notifications().WaitIdle();
    service->RevokeClassObject();
    CoUninitialize();
    return 0;
}
