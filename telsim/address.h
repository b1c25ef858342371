// Addresses, their enumerator, translation results and terminals.
#pragma once

#include "telsim/sim_enum.h"
#include "telsim/sim_object.h"
#include "telsim/world.h"

#include <vector>

namespace telsim {

class Address final : public SimObject,
                      public ITAddress,
                      public ITAddressCapabilities,
                      public ITMediaSupport,
                      public ITAddressTranslation,
                      public ITTerminalSupport {
public:
    Address(Service& service, AddressSpec wanted) noexcept;
    std::wstring Describe() const override;

    TELSIM_IUNKNOWN
    TELSIM_NO_DISPATCH

    // ITAddress
    STDMETHODIMP get_State(ADDRESS_STATE* state) noexcept override;
    STDMETHODIMP get_AddressName(BSTR* name) noexcept override;
    STDMETHODIMP get_ServiceProviderName(BSTR* name) noexcept override;
    STDMETHODIMP get_TAPIObject(ITTAPI** tapi) noexcept override;
    STDMETHODIMP CreateCall(BSTR destination, long addressType, long mediaTypes,
                            ITBasicCallControl** call) noexcept override;
    STDMETHODIMP get_Calls(VARIANT*) noexcept override { return Unsimulated(); }
    STDMETHODIMP EnumerateCalls(IEnumCall**) noexcept override { return Unsimulated(); }
    STDMETHODIMP get_DialableAddress(BSTR*) noexcept override { return Unsimulated(); }
    STDMETHODIMP CreateForwardInfoObject(ITForwardInformation**) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP Forward(ITForwardInformation*, ITBasicCallControl*) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP get_CurrentForwardInfo(ITForwardInformation**) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP put_MessageWaiting(VARIANT_BOOL) noexcept override { return Unsimulated(); }
    STDMETHODIMP get_MessageWaiting(VARIANT_BOOL*) noexcept override { return Unsimulated(); }
    STDMETHODIMP put_DoNotDisturb(VARIANT_BOOL) noexcept override { return Unsimulated(); }
    STDMETHODIMP get_DoNotDisturb(VARIANT_BOOL*) noexcept override { return Unsimulated(); }

    // ITAddressCapabilities
    STDMETHODIMP get_AddressCapability(ADDRESS_CAPABILITY capability,
                                       long* value) noexcept override;
    STDMETHODIMP get_AddressCapabilityString(ADDRESS_CAPABILITY_STRING, BSTR*) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP get_CallTreatments(VARIANT*) noexcept override { return Unsimulated(); }
    STDMETHODIMP EnumerateCallTreatments(IEnumBstr**) noexcept override { return Unsimulated(); }
    STDMETHODIMP get_CompletionMessages(VARIANT*) noexcept override { return Unsimulated(); }
    STDMETHODIMP EnumerateCompletionMessages(IEnumBstr**) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP get_DeviceClasses(VARIANT*) noexcept override { return Unsimulated(); }
    STDMETHODIMP EnumerateDeviceClasses(IEnumBstr**) noexcept override { return Unsimulated(); }

    // ITMediaSupport
    STDMETHODIMP get_MediaTypes(long* mediaTypes) noexcept override;
    STDMETHODIMP QueryMediaType(long mediaType, VARIANT_BOOL* supported) noexcept override;

    // ITAddressTranslation
    STDMETHODIMP TranslateAddress(BSTR number, long card, long options,
                                  ITAddressTranslationInfo** result) noexcept override;
    STDMETHODIMP TranslateDialog(TAPIHWND, BSTR) noexcept override { return Unsimulated(); }
    STDMETHODIMP EnumerateLocations(IEnumLocation**) noexcept override { return Unsimulated(); }
    STDMETHODIMP get_Locations(VARIANT*) noexcept override { return Unsimulated(); }
    STDMETHODIMP EnumerateCallingCards(IEnumCallingCard**) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP get_CallingCards(VARIANT*) noexcept override { return Unsimulated(); }

    // ITTerminalSupport
    STDMETHODIMP get_StaticTerminals(VARIANT*) noexcept override { return Unsimulated(); }
    STDMETHODIMP EnumerateStaticTerminals(IEnumTerminal**) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP get_DynamicTerminalClasses(VARIANT*) noexcept override { return Unsimulated(); }
    STDMETHODIMP EnumerateDynamicTerminalClasses(IEnumTerminalClass**) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP CreateTerminal(BSTR, long, TERMINAL_DIRECTION, ITTerminal**) noexcept override {
        return Unsimulated();
    }
    STDMETHODIMP GetDefaultStaticTerminal(long mediaType, TERMINAL_DIRECTION direction,
                                          ITTerminal** terminal) noexcept override;

private:
    HRESULT Query(REFIID riid, void** ppv) noexcept;

    const AddressSpec spec_;
};

inline constexpr wchar_t kAddressEnumKind[] = L"EnumAddress";
using AddressEnum =
    SimEnum<IEnumAddress, ITAddress, Address, IID_IEnumAddress, kAddressEnumKind, op::AddressNext>;

class TranslationInfo final : public SimObject, public ITAddressTranslationInfo {
public:
    TranslationInfo(Service& service, std::wstring dialable) noexcept;

    TELSIM_IUNKNOWN
    TELSIM_NO_DISPATCH

    STDMETHODIMP get_DialableString(BSTR* text) noexcept override;
    STDMETHODIMP get_DisplayableString(BSTR* text) noexcept override {
        return HandOutString(dialable_, text);
    }
    STDMETHODIMP get_CurrentCountryCode(long* code) noexcept override {
        return ReadProperty(code, 1);
    }
    STDMETHODIMP get_DestinationCountryCode(long* code) noexcept override {
        return ReadProperty(code, 1);
    }
    STDMETHODIMP get_TranslationResults(long* results) noexcept override {
        return ReadProperty(results, 0);
    }

private:
    HRESULT Query(REFIID riid, void** ppv) noexcept {
        return QueryOne(riid, IID_ITAddressTranslationInfo,
                        static_cast<ITAddressTranslationInfo*>(this), ppv);
    }

    const std::wstring dialable_;
};

// A static terminal the address offers for a stream's media and direction.
class Terminal final : public SimObject, public ITTerminal {
public:
    Terminal(Service& service, long mediaType, TERMINAL_DIRECTION direction) noexcept
        : SimObject(service, L"Terminal"), mediaType_(mediaType), direction_(direction) {}

    TELSIM_IUNKNOWN
    TELSIM_NO_DISPATCH

    STDMETHODIMP get_Name(BSTR* name) noexcept override {
        return HandOutString(direction_ == TD_CAPTURE ? L"Simulated capture" : L"Simulated render",
                             name);
    }
    STDMETHODIMP get_State(TERMINAL_STATE* state) noexcept override {
        return ReadProperty(state, TS_NOTINUSE);
    }
    STDMETHODIMP get_TerminalType(TERMINAL_TYPE* type) noexcept override {
        return ReadProperty(type, TT_STATIC);
    }
    STDMETHODIMP get_TerminalClass(BSTR* terminalClass) noexcept override {
        return NotImplemented(terminalClass);
    }
    STDMETHODIMP get_MediaType(long* mediaType) noexcept override {
        return ReadProperty(mediaType, mediaType_);
    }
    STDMETHODIMP get_Direction(TERMINAL_DIRECTION* direction) noexcept override {
        return ReadProperty(direction, direction_);
    }

private:
    HRESULT Query(REFIID riid, void** ppv) noexcept {
        return QueryOne(riid, IID_ITTerminal, static_cast<ITTerminal*>(this), ppv);
    }

    const long mediaType_;
    const TERMINAL_DIRECTION direction_;
};

}  // namespace telsim
