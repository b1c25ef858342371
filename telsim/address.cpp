#include "telsim/address.h"

#include "telsim/call.h"
#include "telsim/telsim.h"

namespace telsim {

Address::Address(Service& service, AddressSpec wanted) noexcept
    : SimObject(service, L"Address"), spec_(std::move(wanted)) {
    if (World().CurrentObjects() == Objects::Bound) {
        BindToApartment();
    }
}

std::wstring Address::Describe() const {
    return SimObject::Describe() + L"(" + (spec_.name ? Quote(spec_.name->c_str()) : L"null") +
           L")";
}

HRESULT Address::Query(REFIID riid, void** ppv) noexcept {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID_ITAddress)) {
        *ppv = static_cast<ITAddress*>(this);
        AddRef();
        return S_OK;
    }
    if (IsEqualIID(riid, IID_ITAddressCapabilities)) {
        return QueryOptional(op::QueryCapabilities, spec_.capabilities,
                             static_cast<ITAddressCapabilities*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_ITMediaSupport)) {
        return QueryOptional(op::QueryMediaSupport, spec_.mediaSupport,
                             static_cast<ITMediaSupport*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_ITAddressTranslation)) {
        return QueryOptional(op::QueryTranslation, spec_.translation,
                             static_cast<ITAddressTranslation*>(this), ppv);
    }
    if (IsEqualIID(riid, IID_ITTerminalSupport)) {
        return QueryOptional(op::QueryTerminalSupport, spec_.terminalSupport,
                             static_cast<ITTerminalSupport*>(this), ppv);
    }
    return E_NOINTERFACE;
}

HRESULT Address::get_State(ADDRESS_STATE* state) noexcept {
    RETURN_IF_FAILED(Enter());
    return ReadProperty(state, AS_INSERVICE);
}

HRESULT Address::get_AddressName(BSTR* name) noexcept {
    RETURN_IF_FAILED(Enter());
    return Recorder().Run(
        op::GetAddressName, [this] { return Describe(); },
        [&](const Gate& gate) -> HRESULT {
            RETURN_IF_FAILED(gate.AdmitOut(name));
            RETURN_IF_FAILED(spec_.nameResult);
            if (gate.nullOut || !spec_.name) {
                return S_OK;
            }
            return HandOutString(*spec_.name, name);
        });
}

HRESULT Address::get_ServiceProviderName(BSTR* name) noexcept {
    RETURN_IF_FAILED(Enter());
    return HandOutString(L"TelSim", name);
}

HRESULT Address::get_TAPIObject(ITTAPI** tapi) noexcept {
    RETURN_IF_FAILED(Enter());
    return NotImplemented(tapi);
}

HRESULT Address::CreateCall(BSTR destination, long addressType, long mediaTypes,
                            ITBasicCallControl** call) noexcept {
    RETURN_IF_FAILED(EnterToWork(op::CreateCall));
    const auto args = [&] { return ArgList(Quote(destination), addressType, mediaTypes); };
    return Recorder().RunHandOut(op::CreateCall, args, call, [&]() -> HRESULT {
        // As the real service: one address type, and one the line takes;
        // media the line carries (the reference is silent on the code for
        // other media: TelSim answers TAPI_E_INVALIDMEDIATYPE).
        const bool oneType = addressType != 0 && (addressType & (addressType - 1)) == 0;
        if (!oneType || (addressType & spec_.addressTypes) == 0) {
            return E_INVALIDARG;
        }
        if (mediaTypes == 0 || (mediaTypes & ~spec_.mediaTypes) != 0) {
            return TAPI_E_INVALIDMEDIATYPE;
        }
        Call* created =
            Ledger().Make<Call>(service_, this, destination ? destination : L"", addressType,
                                mediaTypes, World().Script(), spec_.device.get());
        World().AddCall(created);
        created->AddRef();
        *call = created;
        return S_OK;
    });
}

HRESULT Address::get_AddressCapability(ADDRESS_CAPABILITY capability, long* value) noexcept {
    RETURN_IF_FAILED(Enter());
    const auto args = [&] { return ArgList(static_cast<long>(capability)); };
    return Recorder().Run(op::GetAddressCapability, args, [&](const Gate& gate) -> HRESULT {
        RETURN_IF_FAILED(gate.AdmitOut(value, 0));
        RETURN_IF_FAILED(spec_.capabilityResult);
        if (capability == AC_ADDRESSTYPES) {
            *value = spec_.addressTypes;
        }
        return S_OK;
    });
}

HRESULT Address::get_MediaTypes(long* mediaTypes) noexcept {
    RETURN_IF_FAILED(Enter());
    if (spec_.mediaAnswer) {
        return ReadProperty(mediaTypes,
                            *spec_.mediaAnswer == VARIANT_TRUE ? telephony::DIALER_MEDIA_TYPES : 0);
    }
    return ReadProperty(mediaTypes, spec_.mediaTypes);
}

HRESULT Address::QueryMediaType(long mediaType, VARIANT_BOOL* supported) noexcept {
    RETURN_IF_FAILED(EnterToWork(op::QueryMediaType));
    return Recorder().Run(
        op::QueryMediaType, [&] { return ArgList(mediaType); },
        [&](const Gate& gate) -> HRESULT {
            RETURN_IF_FAILED(gate.AdmitOut(supported, VARIANT_FALSE));
            RETURN_IF_FAILED(spec_.mediaResult);
            if (spec_.mediaAnswer) {
                *supported = *spec_.mediaAnswer;
                return S_OK;
            }
            // Every type asked for, as the stricter reading of "the media
            // type or types"; asking for none is asking for nothing it has.
            const bool all = mediaType != 0 && (mediaType & ~spec_.mediaTypes) == 0;
            *supported = all ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
}

HRESULT Address::TranslateAddress(BSTR number, long card, long options,
                                  ITAddressTranslationInfo** result) noexcept {
    RETURN_IF_FAILED(EnterToWork(op::TranslateAddress));
    const auto args = [&] { return ArgList(Quote(number), card, options); };
    return Recorder().RunHandOut(op::TranslateAddress, args, result, [&]() -> HRESULT {
        // Without a location there are no dialling rules: the dialable
        // string is the number as given.
        std::wstring dialable =
            number ? std::wstring(number, SysStringLen(number)) : std::wstring();
        if (const auto location = World().CurrentLocation()) {
            dialable = TranslateNumber(dialable, *location);
        }
        return HandOut<TranslationInfo>(result, std::move(dialable));
    });
}

HRESULT Address::GetDefaultStaticTerminal(long mediaType, TERMINAL_DIRECTION direction,
                                          ITTerminal** terminal) noexcept {
    RETURN_IF_FAILED(EnterToWork(op::GetDefaultStaticTerminal));
    const auto args = [&] { return ArgList(mediaType, static_cast<long>(direction)); };
    return Recorder().RunHandOut(op::GetDefaultStaticTerminal, args, terminal, [&]() -> HRESULT {
        if (!World().Script().HasDefaultTerminal(mediaType, direction)) {
            return TAPI_E_NOITEMS;
        }
        return HandOut<Terminal>(terminal, mediaType, direction);
    });
}

// ---- TranslationInfo

TranslationInfo::TranslationInfo(Service& service, std::wstring dialable) noexcept
    : SimObject(service, L"AddressTranslationInfo"), dialable_(std::move(dialable)) {}

HRESULT TranslationInfo::get_DialableString(BSTR* text) noexcept {
    const auto args = [this] { return Quote(dialable_.c_str()); };
    return Recorder().RunHandOut(op::GetDialableString, args, text,
                                 [&]() -> HRESULT { return HandOutString(dialable_, text); });
}

}  // namespace telsim
