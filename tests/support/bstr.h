// A BSTR a test owns: made from text for an argument, or received from an
// out-parameter through Receive().
#pragma once

#include <string>

#include "comkit/bstr.h"

namespace test_support {

class Bstr : public comkit::UniqueBstr {
public:
    Bstr() = default;
    explicit Bstr(const wchar_t* text) : UniqueBstr(SysAllocString(text)) {}

    // The text, empty for a null string.
    std::wstring Text() const { return Get() ? std::wstring(Get(), Length()) : std::wstring(); }
};

}  // namespace test_support
