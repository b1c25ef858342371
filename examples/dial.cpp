// A compiled host for Brevlin: lists the lines, dials a number through the
// registered component's dual interface and prints the call's timeline.
//
//   dial [--line NAME | --line-file FILE] [--list] [--hold S] [--wait S] [NUMBER]
//
// Exit status as for examples/dial.vbs: 0 connected and hung up cleanly,
// 1 a member failed, 2 placed but never seen, 3 ended by itself.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>

// The release archive's header. INITGUID before it defines CLSID_TAPIDialer
// and IID_ITAPIDialer in this file; a program does so in one file only.
#include <initguid.h>
#include "brevlin.h"

using Microsoft::WRL::ComPtr;

namespace {

struct Options {
    std::wstring number = L"+1 (555) 010-0100";
    std::wstring line;
    std::wstring lineFile;
    bool listOnly = false;
    double holdSeconds = 3;
    double waitSeconds = 10;
};

class Timeline {
public:
    void Say(const std::wstring& text) const {
        const double t =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        std::wprintf(L"%7.2f s  %ls\n", t, text.c_str());
        std::fflush(stdout);
    }

private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

class Bstr {
public:
    explicit Bstr(const std::wstring& s)
        : m_s(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    Bstr() = default;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(m_s); }
    BSTR Get() const { return m_s; }
    BSTR* Out() { return &m_s; }
    std::wstring Str() const { return m_s ? std::wstring(m_s, SysStringLen(m_s)) : std::wstring(); }

private:
    BSTR m_s = nullptr;
};

// The dialer leaves a description only for the failures it diagnoses itself
// and never clears the thread's error object, which may still hold an older,
// unrelated one. So each member is called with the error object cleared, and
// after a failure the error object counts only when it is the dialer's.
template <class Member>
HRESULT Call(Member&& member) {
    SetErrorInfo(0, nullptr);
    return member();
}

std::wstring Describe(const wchar_t* what, HRESULT hr) {
    wchar_t code[16];
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    std::wstring text = std::wstring(what) + L" failed: " + code;
    ComPtr<IErrorInfo> info;
    GUID source = {};
    if (GetErrorInfo(0, &info) == S_OK && info && SUCCEEDED(info->GetGUID(&source)) &&
        IsEqualGUID(source, IID_ITAPIDialer)) {
        Bstr description;
        if (SUCCEEDED(info->GetDescription(description.Out())) && description.Get())
            text += L"  " + description.Str();
    }
    return text;
}

bool ParseArguments(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--list") {
            options.listOnly = true;
        } else if (arg == L"--line" && hasValue) {
            options.line = argv[++i];
        } else if (arg == L"--line-file" && hasValue) {
            options.lineFile = argv[++i];
        } else if (arg == L"--hold" && hasValue) {
            options.holdSeconds = _wtof(argv[++i]);
        } else if (arg == L"--wait" && hasValue) {
            options.waitSeconds = _wtof(argv[++i]);
        } else if (!arg.empty() && arg[0] == L'-' && arg.size() > 1 && !iswdigit(arg[1])) {
            return false;
        } else {
            options.number = arg;
        }
    }
    return options.line.empty() || options.lineFile.empty();
}

// Waits about `ms` milliseconds while dispatching this thread's messages. A
// thread in a single-threaded apartment must keep pumping whatever it waits
// for: COM delivers calls into the apartment as messages, and a thread that
// only sleeps holds them up. False when the wait itself fails or a WM_QUIT
// arrives (which is posted again for the caller's own loop).
bool PumpMessages(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return false;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end)
            return true;
        const DWORD waited = MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now),
                                                         QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (waited == WAIT_FAILED)
            return false;
    }
}

int Dial(const Options& options) {
    Timeline timeline;
    ComPtr<ITAPIDialer> dialer;
    HRESULT hr =
        CoCreateInstance(CLSID_TAPIDialer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialer));
    if (FAILED(hr)) {
        timeline.Say(Describe(L"creating Brevlin.TAPIDialer", hr));
        return 1;
    }
    if (FAILED(hr = Call([&] { return dialer->InitializeTAPI(); }))) {
        timeline.Say(Describe(L"InitializeTAPI", hr));
        return 1;
    }
    timeline.Say(L"telephony initialised");

    Bstr lines;
    if (FAILED(hr = Call([&] { return dialer->GetAddressNameCSVList(lines.Out()); }))) {
        timeline.Say(Describe(L"GetAddressNameCSVList", hr));
        return 1;
    }
    timeline.Say(L"lines: " +
                 (lines.Str().empty() ? std::wstring(L"(none suitable)") : lines.Str()));
    if (options.listOnly) {
        if (FAILED(hr = Call([&] { return dialer->ShutdownTAPI(); }))) {
            timeline.Say(Describe(L"ShutdownTAPI", hr));
            return 1;
        }
        return 0;
    }

    VARIANT_BOOL chosen = VARIANT_FALSE;
    if (!options.line.empty()) {
        Bstr name(options.line);
        if (FAILED(hr = Call([&] { return dialer->SetDeviceAddress(name.Get(), &chosen); }))) {
            timeline.Say(Describe(L"SetDeviceAddress", hr));
            return 1;
        }
        timeline.Say(L"line \"" + options.line + L"\" chosen: " + (chosen ? L"True" : L"False"));
    } else if (!options.lineFile.empty()) {
        Bstr file(options.lineFile);
        if (FAILED(hr = Call(
                       [&] { return dialer->ReadDeviceAddressFromFile(file.Get(), &chosen); }))) {
            timeline.Say(Describe(L"ReadDeviceAddressFromFile", hr));
            return 1;
        }
        timeline.Say(L"line from " + options.lineFile + L" chosen: " +
                     (chosen ? L"True" : L"False"));
    }

    Bstr number(options.number);
    if (FAILED(hr = Call([&] { return dialer->Connect(number.Get()); }))) {
        timeline.Say(Describe((L"Connect \"" + options.number + L"\"").c_str(), hr));
        return 1;
    }
    timeline.Say(L"Connect \"" + options.number + L"\": S_OK, dialling");

    // Polls Connected every 50 ms, pumping messages in between, until it
    // reads `wanted` or `seconds` have passed; the answer read last.
    const auto pollFor = [&](bool wanted, double seconds, bool& connected) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            VARIANT_BOOL value = VARIANT_FALSE;
            const HRESULT read = dialer->get_Connected(&value);
            if (FAILED(read))
                return read;
            connected = value == VARIANT_TRUE;
            if (connected == wanted || std::chrono::steady_clock::now() >= end)
                return S_OK;
            if (!PumpMessages(50))
                return E_ABORT;
        }
    };
    int outcome = 2;
    bool connected = false;
    if (FAILED(hr = pollFor(true, options.waitSeconds, connected))) {
        timeline.Say(Describe(L"waiting for Connected", hr));
        return 1;
    }
    if (connected) {
        outcome = 0;
        timeline.Say(L"Connected: True");
        if (FAILED(hr = pollFor(false, options.holdSeconds, connected))) {
            timeline.Say(Describe(L"holding the call", hr));
            return 1;
        }
        if (!connected) {
            timeline.Say(L"Connected: False  (the call ended by itself)");
            outcome = 3;
        } else {
            timeline.Say(L"held for " + std::to_wstring(options.holdSeconds).substr(0, 4) + L" s");
        }
    } else {
        timeline.Say(L"Connected stayed False");
    }

    if (FAILED(hr = Call([&] { return dialer->Disconnect(); }))) {
        timeline.Say(Describe(L"Disconnect", hr));
        return 1;
    }
    timeline.Say(L"hung up");
    if (FAILED(hr = Call([&] { return dialer->ShutdownTAPI(); }))) {
        timeline.Say(Describe(L"ShutdownTAPI", hr));
        return 1;
    }
    timeline.Say(L"telephony shut down");
    return outcome;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        std::fwprintf(stderr,
                      L"usage: dial [--line NAME | --line-file FILE] [--list] [--hold S] [--wait "
                      L"S] [NUMBER]\n");
        return 1;
    }
    // A script host's thread is a single-threaded apartment; do the same,
    // and so pump messages whenever the program waits.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(com)) {
        std::fwprintf(stderr, L"CoInitializeEx failed: 0x%08lX\n", static_cast<unsigned long>(com));
        return 1;
    }
    const int status = Dial(options);
    CoUninitialize();
    return status;
}
