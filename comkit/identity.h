// COM identity: whichever interface of an object one holds, its IUnknown is
// the same pointer, and that pointer is what tells two objects apart.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <wrl/client.h>

namespace comkit {

// The object's IUnknown as a plain value to compare with, holding no
// reference: it stays meaningful only while the caller holds the object.
// Null for a null object or one that refuses the query.
inline IUnknown* IdentityOf(IUnknown* object) noexcept {
    if (!object) {
        return nullptr;
    }
    Microsoft::WRL::ComPtr<IUnknown> identity;
    if (FAILED(object->QueryInterface(IID_PPV_ARGS(&identity)))) {
        return nullptr;
    }
    return identity.Get();
}

// Whether a and b are interfaces of one object; two nulls are the same.
inline bool SameObject(IUnknown* a, IUnknown* b) noexcept {
    if (!a || !b) {
        return a == b;
    }
    IUnknown* identity = IdentityOf(a);
    return identity && identity == IdentityOf(b);
}

}  // namespace comkit
