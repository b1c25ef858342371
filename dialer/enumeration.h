// Stepping through the telephony service's enumerators one item at a time.
#pragma once

#include <windows.h>

#include <wrl/client.h>

namespace dialer {

// One Next of count 1. S_OK comes back only together with an item: an
// enumerator that answers S_OK without one would be asked again forever, so
// that answer ends the enumeration as the failure E_POINTER.
template <class Enumerator, class Item>
HRESULT NextItem(Enumerator* items, Microsoft::WRL::ComPtr<Item>& item) noexcept {
    const HRESULT hr = items->Next(1, item.ReleaseAndGetAddressOf(), nullptr);
    if (hr == S_OK && !item) {
        return E_POINTER;
    }
    return hr;
}

}  // namespace dialer
