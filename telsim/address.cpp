#include "telsim/address.h"

#include "comkit/result.h"
#include "telsim/call.h"
#include "telsim/service_core.h"

namespace telsim {

Address::Address(ServiceCore& core, AddressSpec wanted) noexcept
    : SimObject(core, L"Address"), spec_(std::move(wanted)) {}

std::wstring Address::Describe() const {
    return SimObject::Describe() + L"(" + (spec_.name ? Quote(spec_.name->c_str()) : L"null") + L")";
}

HRESULT Address::Query(REFIID riid, void** ppv) noexcept {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_ITAddress)) {
        *ppv = static_cast<ITAddress*>(this);
        AddRef();
        return S_OK;
    }
    if (IsEqualIID(riid, IID_ITAddressCapabilities)) {
        return Optional(op::QueryCapabilities, spec_.capabilities, static_cast<ITAddressCapabilities*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_ITMediaSupport)) {
        return Optional(op::QueryMediaSupport, spec_.mediaSupport, static_cast<ITMediaSupport*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_ITAddressTranslation)) {
        return Optional(op::QueryTranslation, spec_.translation, static_cast<ITAddressTranslation*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_ITTerminalSupport)) {
        return Optional(op::QueryTerminalSupport, spec_.terminalSupport, static_cast<ITTerminalSupport*>(this), ppv);
    }
    return E_NOINTERFACE;
}

HRESULT Address::Optional(const wchar_t* name, bool offered, void* itf, void** ppv) noexcept {
    const Gate gate = core_.Begin(name, [] { return std::wstring(); }, true);
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (!offered) return core_.Finish(gate, E_NOINTERFACE);
    if (gate.nullOut) return core_.Finish(gate, S_OK);
    *ppv = itf;
    AddRef();
    return core_.Finish(gate, S_OK);
}

HRESULT Address::get_State(ADDRESS_STATE* state) noexcept {
    if (!state) return E_POINTER;
    *state = AS_INSERVICE;
    return S_OK;
}

HRESULT Address::get_AddressName(BSTR* name) noexcept {
    const Gate gate = core_.Begin(op::GetAddressName, [this] { return Describe(); });
    if (!name) return core_.Finish(gate, E_POINTER);
    *name = nullptr;
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (FAILED(spec_.nameResult)) return core_.Finish(gate, spec_.nameResult);
    if (gate.nullOut || !spec_.name) return core_.Finish(gate, S_OK);
    *name = core_.AllocString(*spec_.name);
    return core_.Finish(gate, *name ? S_OK : E_OUTOFMEMORY);
}

HRESULT Address::get_ServiceProviderName(BSTR* name) noexcept {
    if (!name) return E_POINTER;
    *name = core_.AllocString(std::wstring(L"TelSim"));
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT Address::get_TAPIObject(ITTAPI** tapi) noexcept {
    if (tapi) *tapi = nullptr;
    return E_NOTIMPL;
}

HRESULT Address::CreateCall(BSTR destination, long addressType, long mediaTypes, ITBasicCallControl** call) noexcept {
    const Gate gate = core_.Begin(op::CreateCall, [&] { return ArgList(Quote(destination), addressType, mediaTypes); });
    if (!call) return core_.Finish(gate, E_POINTER);
    *call = nullptr;
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (gate.nullOut) return core_.Finish(gate, S_OK);
    return core_.Finish(gate, comkit::GuardCall([&] {
        Call* created = core_.Make<Call>(this, destination ? destination : L"", addressType, mediaTypes, core_.Script());
        if (spec_.modem) created->UseModem(spec_.modem);
        core_.CallCreated(created);
        created->AddRef();
        *call = created;
        return S_OK;
    }));
}

HRESULT Address::get_AddressCapability(ADDRESS_CAPABILITY capability, long* value) noexcept {
    const Gate gate = core_.Begin(op::GetAddressCapability, [&] { return ArgList(static_cast<long>(capability)); });
    if (!value) return core_.Finish(gate, E_POINTER);
    *value = 0;
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (FAILED(spec_.capabilityResult)) return core_.Finish(gate, spec_.capabilityResult);
    if (capability == AC_ADDRESSTYPES) *value = spec_.addressTypes;
    return core_.Finish(gate, S_OK);
}

HRESULT Address::get_MediaTypes(long* mediaTypes) noexcept {
    if (!mediaTypes) return E_POINTER;
    *mediaTypes = spec_.mediaAnswer == VARIANT_TRUE ? telephony::DIALER_MEDIA_TYPES : 0;
    return S_OK;
}

HRESULT Address::QueryMediaType(long mediaType, VARIANT_BOOL* supported) noexcept {
    const Gate gate = core_.Begin(op::QueryMediaType, [&] { return ArgList(mediaType); });
    if (!supported) return core_.Finish(gate, E_POINTER);
    *supported = VARIANT_FALSE;
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (FAILED(spec_.mediaResult)) return core_.Finish(gate, spec_.mediaResult);
    *supported = spec_.mediaAnswer;
    return core_.Finish(gate, S_OK);
}

HRESULT Address::TranslateAddress(BSTR number, long card, long options, ITAddressTranslationInfo** result) noexcept {
    const Gate gate = core_.Begin(op::TranslateAddress, [&] { return ArgList(Quote(number), card, options); });
    if (!result) return core_.Finish(gate, E_POINTER);
    *result = nullptr;
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (gate.nullOut) return core_.Finish(gate, S_OK);
    return core_.Finish(gate, comkit::GuardCall([&] {
        // Without a location there are no dialling rules: the dialable
        // string is the number as given.
        std::wstring dialable = number ? std::wstring(number, SysStringLen(number)) : std::wstring();
        if (const auto location = core_.CurrentLocation()) dialable = TranslateNumber(dialable, *location);
        TranslationInfo* info = core_.Make<TranslationInfo>(std::move(dialable));
        info->AddRef();
        *result = info;
        return S_OK;
    }));
}

HRESULT Address::GetDefaultStaticTerminal(long mediaType, TERMINAL_DIRECTION direction,
                                          ITTerminal** terminal) noexcept {
    const Gate gate = core_.Begin(op::GetDefaultStaticTerminal, [&] {
        return ArgList(mediaType, static_cast<long>(direction));
    });
    if (!terminal) return core_.Finish(gate, E_POINTER);
    *terminal = nullptr;
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (gate.nullOut) return core_.Finish(gate, S_OK);
    if (!core_.HasDefaultTerminal(mediaType, direction)) return core_.Finish(gate, TAPI_E_NOITEMS);
    return core_.Finish(gate, comkit::GuardCall([&] {
        Terminal* created = core_.Make<Terminal>(mediaType, direction);
        created->AddRef();
        *terminal = created;
        return S_OK;
    }));
}

// ---- TranslationInfo

TranslationInfo::TranslationInfo(ServiceCore& core, std::wstring dialable) noexcept
    : SimObject(core, L"AddressTranslationInfo"), dialable_(std::move(dialable)) {}

HRESULT TranslationInfo::Query(REFIID riid, void** ppv) noexcept {
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
        !IsEqualIID(riid, IID_ITAddressTranslationInfo)) {
        return E_NOINTERFACE;
    }
    *ppv = static_cast<ITAddressTranslationInfo*>(this);
    AddRef();
    return S_OK;
}

HRESULT TranslationInfo::get_DialableString(BSTR* text) noexcept {
    const Gate gate = core_.Begin(op::GetDialableString, [this] { return Quote(dialable_.c_str()); });
    if (!text) return core_.Finish(gate, E_POINTER);
    *text = nullptr;
    if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
    if (gate.nullOut) return core_.Finish(gate, S_OK);
    *text = core_.AllocString(dialable_);
    return core_.Finish(gate, *text ? S_OK : E_OUTOFMEMORY);
}

HRESULT TranslationInfo::get_DisplayableString(BSTR* text) noexcept {
    if (!text) return E_POINTER;
    *text = core_.AllocString(dialable_);
    return *text ? S_OK : E_OUTOFMEMORY;
}

HRESULT TranslationInfo::get_CurrentCountryCode(long* code) noexcept {
    if (!code) return E_POINTER;
    *code = 1;
    return S_OK;
}

HRESULT TranslationInfo::get_DestinationCountryCode(long* code) noexcept {
    return get_CurrentCountryCode(code);
}

HRESULT TranslationInfo::get_TranslationResults(long* results) noexcept {
    if (!results) return E_POINTER;
    *results = 0;
    return S_OK;
}

// ---- Terminal

Terminal::Terminal(ServiceCore& core, long mediaType, TERMINAL_DIRECTION direction) noexcept
    : SimObject(core, L"Terminal"), mediaType_(mediaType), direction_(direction) {}

HRESULT Terminal::Query(REFIID riid, void** ppv) noexcept {
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, IID_ITTerminal)) {
        return E_NOINTERFACE;
    }
    *ppv = static_cast<ITTerminal*>(this);
    AddRef();
    return S_OK;
}

HRESULT Terminal::get_Name(BSTR* name) noexcept {
    if (!name) return E_POINTER;
    *name = core_.AllocString(std::wstring(direction_ == TD_CAPTURE ? L"Simulated capture" : L"Simulated render"));
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT Terminal::get_State(TERMINAL_STATE* state) noexcept {
    if (!state) return E_POINTER;
    *state = TS_NOTINUSE;
    return S_OK;
}

HRESULT Terminal::get_TerminalType(TERMINAL_TYPE* type) noexcept {
    if (!type) return E_POINTER;
    *type = TT_STATIC;
    return S_OK;
}

HRESULT Terminal::get_TerminalClass(BSTR* terminalClass) noexcept {
    if (terminalClass) *terminalClass = nullptr;
    return E_NOTIMPL;
}

HRESULT Terminal::get_MediaType(long* mediaType) noexcept {
    if (!mediaType) return E_POINTER;
    *mediaType = mediaType_;
    return S_OK;
}

HRESULT Terminal::get_Direction(TERMINAL_DIRECTION* direction) noexcept {
    if (!direction) return E_POINTER;
    *direction = direction_;
    return S_OK;
}

}  // namespace telsim
