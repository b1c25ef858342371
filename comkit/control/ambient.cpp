#include "comkit/control/ambient.h"

#include <oleauto.h>

namespace comkit {

namespace {

// Owns a VARIANT for the scope.
class ScopedVariant {
public:
    ScopedVariant() noexcept { VariantInit(&m_value); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    ~ScopedVariant() { VariantClear(&m_value); }

    VARIANT* Receive() noexcept { return &m_value; }
    const VARIANT& Get() const noexcept { return m_value; }

private:
    VARIANT m_value;
};

}  // namespace

AmbientBool ReadAmbientBool(IDispatch* ambient, DISPID id) noexcept {
    if (!ambient)
        return AmbientBool::Unavailable;
    ScopedVariant value;
    DISPPARAMS noArgs{};
    const HRESULT hr = ambient->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                       &noArgs, value.Receive(), nullptr, nullptr);
    if (FAILED(hr) || V_VT(&value.Get()) != VT_BOOL)
        return AmbientBool::Unavailable;
    return V_BOOL(&value.Get()) ? AmbientBool::True : AmbientBool::False;
}

}  // namespace comkit
