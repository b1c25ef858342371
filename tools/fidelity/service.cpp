#include "tools/fidelity/service.h"

#include "tools/fidelity/report.h"

#include "comkit/bstr.h"

#include <algorithm>

namespace fidelity {

HRESULT NewRoot(ComPtr<ITTAPI>& root) {
    return CoCreateInstance(CLSID_TAPI, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&root));
}

namespace {

void ReadLine(Line& line) {
    comkit::UniqueBstr name;
    HRESULT hr = line.address->get_AddressName(name.Receive());
    line.named = SUCCEEDED(hr) && name;
    if (line.named) {
        line.name.assign(name.Get(), name.Length());
    } else {
        line.unreadable += L" name " + Hex(hr);
    }
    ComPtr<ITAddressCapabilities> capabilities;
    hr = line.address.As(&capabilities);
    if (SUCCEEDED(hr)) {
        hr = capabilities->get_AddressCapability(AC_ADDRESSTYPES, &line.addressTypes);
    }
    if (FAILED(hr)) {
        line.unreadable += L" address types " + Hex(hr);
    }
    ComPtr<ITMediaSupport> media;
    hr = line.address.As(&media);
    if (SUCCEEDED(hr)) {
        hr = media->get_MediaTypes(&line.mediaTypes);
    }
    if (FAILED(hr)) {
        line.unreadable += L" media types " + Hex(hr);
    }
}

}  // namespace

Session::~Session() {
    lines_.clear();
    if (root_) {
        root_->Shutdown();
    }
}

bool Session::Open(std::wstring& failure) {
    HRESULT hr = NewRoot(root_);
    if (FAILED(hr)) {
        failure = L"creating the root object failed: " + Hex(hr);
        return false;
    }
    if (FAILED(hr = root_->Initialize())) {
        failure = L"Initialize failed: " + Hex(hr);
        root_.Reset();
        return false;
    }
    ComPtr<IEnumAddress> addresses;
    if (FAILED(hr = root_->EnumerateAddresses(&addresses)) || !addresses) {
        failure = L"EnumerateAddresses failed: " + Hex(hr);
        return false;
    }
    for (;;) {
        Line line;
        hr = addresses->Next(1, &line.address, nullptr);
        if (hr != S_OK || !line.address) {
            break;
        }
        ReadLine(line);
        lines_.push_back(std::move(line));
    }
    if (FAILED(hr)) {
        failure = L"IEnumAddress::Next failed: " + Hex(hr);
        return false;
    }
    return true;
}

bool TakesPhoneNumbers(const Line& line) {
    return (line.addressTypes & LINEADDRESSTYPE_PHONENUMBER) != 0;
}

const Line* CallableLine(const std::vector<Line>& lines) {
    for (const Line& line : lines) {
        if (TakesPhoneNumbers(line) && OneMediaType(line) != 0) {
            return &line;
        }
    }
    return nullptr;
}

long OneMediaType(const Line& line) {
    for (long type : {TAPIMEDIATYPE_AUDIO, TAPIMEDIATYPE_DATAMODEM}) {
        if (line.mediaTypes & type) {
            return type;
        }
    }
    return line.mediaTypes & -line.mediaTypes;  // the lowest type it has
}

bool PumpUntil(DWORD ms, const std::function<bool()>& done) {
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done && done()) {
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) {
            return false;
        }
        // Woken by a message, or after a short while to ask `done` again.
        MsgWaitForMultipleObjectsEx(0, nullptr,
                                    static_cast<DWORD>(std::min<ULONGLONG>(end - now, 20)),
                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void PumpFor(DWORD ms) {
    PumpUntil(ms, nullptr);
}

}  // namespace fidelity
