// Ownership of new test doubles, and their reference counts.
#pragma once

#include <unknwn.h>

#include <wrl/client.h>

namespace test_support {

// Takes over the reference an object is created with. Not ComPtr::Attach:
// mingw's adds a reference of its own, which the platform's does not.
template <class T>
Microsoft::WRL::ComPtr<T> Adopt(T* created) {
    Microsoft::WRL::ComPtr<T> owner;
    *owner.GetAddressOf() = created;
    return owner;
}

// The references an object has left: AddRef, then what Release answers.
inline ULONG RefCount(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

}  // namespace test_support
