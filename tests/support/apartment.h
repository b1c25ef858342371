// COM, or OLE, on the current thread for the life of the object; undone only
// if it was set up.
#pragma once

#include <windows.h>

namespace test_support {

class Apartment {
public:
    enum Kind { Multi, Single, Ole };

    explicit Apartment(Kind kind = Multi);
    ~Apartment();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

    // What CoInitializeEx or OleInitialize answered.
    HRESULT Result() const noexcept { return m_hr; }

private:
    Kind m_kind;
    HRESULT m_hr;
};

}  // namespace test_support
