#include "tools/fidelity/rows.h"

namespace fidelity {
namespace {

// The codes of two calls, as the table shows them.
std::wstring Pair(HRESULT first, HRESULT second) {
    return Hex(first) + L" then " + Hex(second);
}

void ShutdownWithoutInitialize(Report& report, const wchar_t* row, ITTAPI* root) {
    const HRESULT hr = root->Shutdown();
    if (FAILED(hr)) {
        report.Pass(row, L"fails with " + Hex(hr));
    } else {
        report.Fail(row, L"answered " + Hex(hr) + L", expected a failure");
    }
}

void MethodsBeforeInitialize(Report& report, const wchar_t* row, ITTAPI* root) {
    ComPtr<IEnumAddress> addresses;
    const HRESULT enumerate = root->EnumerateAddresses(&addresses);
    const HRESULT filter = root->put_EventFilter(TE_CALLSTATE);
    long handle = 0;
    const HRESULT registration = root->RegisterCallNotifications(
        nullptr, VARIANT_TRUE, VARIANT_TRUE, TAPIMEDIATYPE_AUDIO, 0, &handle);
    const std::wstring detail = L"EnumerateAddresses " + Hex(enumerate) + L", put_EventFilter " +
                                Hex(filter) + L", RegisterCallNotifications " + Hex(registration);
    if (FAILED(enumerate) && FAILED(filter) && FAILED(registration)) {
        report.Pass(row, L"all fail: " + detail);
    } else {
        report.Fail(row, detail + L", expected three failures");
    }
}

void InitializeTwice(Report& report, const wchar_t* row, ITTAPI* root) {
    const HRESULT first = root->Initialize();
    const HRESULT second = root->Initialize();
    if (first == S_OK && second == S_FALSE) {
        report.Pass(row, Pair(first, second));
    } else {
        report.Fail(row, Pair(first, second) + L", expected S_OK then S_FALSE");
    }
    root->Shutdown();
}

void ShutdownTwice(Report& report, const wchar_t* row, ITTAPI* root) {
    const HRESULT initialized = root->Initialize();
    if (FAILED(initialized)) {
        report.Fail(row, L"Initialize failed: " + Hex(initialized));
        return;
    }
    const HRESULT first = root->Shutdown();
    const HRESULT second = root->Shutdown();
    if (first == S_OK && second == S_FALSE) {
        report.Pass(row, Pair(first, second));
    } else {
        report.Fail(row, Pair(first, second) + L", expected S_OK then S_FALSE");
    }
}

}  // namespace

void CheckLifecycle(Report& report) {
    // Each row on a root object of its own, and those that need one never
    // initialised first, in case the service shares its state between the
    // root objects of a process.
    using Check = void (*)(Report&, const wchar_t*, ITTAPI*);
    const struct {
        const wchar_t* row;
        Check check;
    } rows[] = {{L"Shutdown without Initialize", ShutdownWithoutInitialize},
                {L"methods before Initialize", MethodsBeforeInitialize},
                {L"Initialize twice", InitializeTwice},
                {L"Shutdown twice", ShutdownTwice}};
    for (const auto& r : rows) {
        ComPtr<ITTAPI> root;
        const HRESULT hr = NewRoot(root);
        if (FAILED(hr)) {
            report.Fail(r.row, L"creating the root object failed: " + Hex(hr));
            continue;
        }
        r.check(report, r.row, root.Get());
    }
}

}  // namespace fidelity
