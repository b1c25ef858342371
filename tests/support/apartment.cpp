#include "support/apartment.h"

#include <ole2.h>

namespace test_support {

Apartment::Apartment(Kind kind)
    : m_kind(kind),
      m_hr(kind == Ole ? OleInitialize(nullptr)
                       : CoInitializeEx(nullptr, kind == Single ? COINIT_APARTMENTTHREADED
                                                                : COINIT_MULTITHREADED)) {}

Apartment::~Apartment() {
    if (FAILED(m_hr)) {
        return;
    }
    if (m_kind == Ole) {
        OleUninitialize();
    } else {
        CoUninitialize();
    }
}

}  // namespace test_support
