// Address discovery and selection: which of the service's addresses the
// dialer may dial on, selection by name, and the list of usable names.
#include "comkit/bstr.h"
#include "comkit/identity.h"
#include "comkit/result.h"
#include "comkit/wide_buffer.h"
#include "dialer/enumeration.h"
#include "dialer/road.h"

using Microsoft::WRL::ComPtr;

namespace {

// Without a root object there is nothing to enumerate; the members that
// would enumerate answer this and leave their outputs and the selection alone.
constexpr HRESULT kNoRootObject = E_FAIL;

}  // namespace

bool CTAPIDialer::IsSuitableAddress(ITAddress* address) noexcept {
    if (!address) {
        return false;
    }
    ComPtr<ITAddressCapabilities> capabilities;
    if (FAILED(address->QueryInterface(IID_PPV_ARGS(&capabilities))) || !capabilities) {
        return false;
    }
    long addressTypes = 0;
    if (FAILED(capabilities->get_AddressCapability(AC_ADDRESSTYPES, &addressTypes)) ||
        (addressTypes & telephony::PHONE_NUMBER_ADDRESS_TYPE) == 0) {
        return false;
    }
    ComPtr<ITMediaSupport> media;
    if (FAILED(address->QueryInterface(IID_PPV_ARGS(&media))) || !media) {
        return false;
    }
    VARIANT_BOOL supported = VARIANT_FALSE;
    return SUCCEEDED(media->QueryMediaType(telephony::DIALER_MEDIA_TYPES, &supported)) &&
           supported == VARIANT_TRUE;
}

HRESULT CTAPIDialer::EnumerateAddresses(ComPtr<IEnumAddress>& addresses) noexcept {
    if (!m_pTapi) {
        return kNoRootObject;
    }
    RETURN_IF_FAILED(m_pTapi->EnumerateAddresses(addresses.ReleaseAndGetAddressOf()));
    return addresses ? S_OK : E_POINTER;
}

ComPtr<ITAddress> CTAPIDialer::FindSuitableAddress() noexcept {
    ComPtr<IEnumAddress> addresses;
    if (FAILED(EnumerateAddresses(addresses))) {
        return nullptr;
    }
    ComPtr<ITAddress> address;
    while (dialer::NextItem(addresses.Get(), address) == S_OK) {
        if (IsSuitableAddress(address.Get())) {
            return address;
        }
    }
    return nullptr;
}

bool CTAPIDialer::EnsureAddress() noexcept {
    if (!m_pAddress) {
        m_pAddress = FindSuitableAddress();
    }
    return m_pAddress != nullptr;
}

HRESULT CTAPIDialer::SetDeviceAddress(BSTR strDeviceId, VARIANT_BOOL* bSuccess) noexcept {
    if (!bSuccess) {
        return E_POINTER;
    }
    *bSuccess = VARIANT_FALSE;
    Road road(*this);
    if (!road) {
        return dialer::kDialerBusy;
    }
    return SelectAddressNamed(strDeviceId, bSuccess);
}

HRESULT CTAPIDialer::SelectAddressNamed(BSTR strDeviceId, VARIANT_BOOL* bSuccess) noexcept {
    ComPtr<IEnumAddress> addresses;
    RETURN_IF_FAILED(EnumerateAddresses(addresses));

    HRESULT hr;
    ComPtr<ITAddress> address;
    while ((hr = dialer::NextItem(addresses.Get(), address)) == S_OK) {
        comkit::UniqueBstr name;
        if (FAILED(address->get_AddressName(name.Receive()))) {
            continue;
        }
        if (VarBstrCmp(name.Get(), strDeviceId, LOCALE_USER_DEFAULT, 0) != VARCMP_EQ) {
            continue;
        }
        // Only the first address of that name is looked at, suitable or not.
        if (IsSuitableAddress(address.Get())) {
            if (!comkit::SameObject(address.Get(), m_pAddress.Get())) {
                // Calls on the new line are followed from the next Connect on.
                m_bRegisteredForAddress = false;
            }
            // The old selection goes after the new one is in place; the same
            // address selected again thus keeps exactly one reference.
            m_pAddress.Swap(address);
            *bSuccess = VARIANT_TRUE;
        }
        break;
    }
    return hr;
}

HRESULT CTAPIDialer::GetAddressNameCSVList(BSTR* strAddressNameCSVList) noexcept {
    if (!strAddressNameCSVList) {
        return E_POINTER;
    }
    Road road(*this);
    if (!road) {
        return dialer::kDialerBusy;
    }
    ComPtr<IEnumAddress> addresses;
    RETURN_IF_FAILED(EnumerateAddresses(addresses));

    HRESULT hr;
    comkit::WideBuffer list;
    ComPtr<ITAddress> address;
    while ((hr = dialer::NextItem(addresses.Get(), address)) == S_OK) {
        comkit::UniqueBstr name;
        if (!IsSuitableAddress(address.Get()) || FAILED(address->get_AddressName(name.Receive()))) {
            continue;
        }
        // Separated when the list so far is not empty: an empty first
        // name leaves no trace, a later one gives two adjacent commas.
        if ((!list.Empty() && !list.Append(L',')) || !list.Append(name.Get(), name.Length())) {
            return E_OUTOFMEMORY;
        }
    }

    BSTR copy = SysAllocStringLen(list.CStr(), static_cast<UINT>(list.Size()));
    if (!copy) {
        return E_OUTOFMEMORY;
    }
    *strAddressNameCSVList = copy;
    return hr;
}
