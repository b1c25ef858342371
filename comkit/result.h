// Early-return and exception-boundary helpers for COM code.
#pragma once

#include <windows.h>

#include <new>
#include <type_traits>

// Evaluates expr once; if it is a failure HRESULT, returns it from the
// enclosing function.
#define RETURN_IF_FAILED(expr)                                             \
    do {                                                                   \
        const auto comkit_hr_ = (expr);                                    \
        static_assert(std::is_same_v<decltype(comkit_hr_), const HRESULT>, \
                      "RETURN_IF_FAILED needs an HRESULT");                \
        if (FAILED(comkit_hr_))                                            \
            return comkit_hr_;                                             \
    } while (0)

namespace comkit {

// Runs fn (returning HRESULT) so that no exception leaves: std::bad_alloc
// becomes E_OUTOFMEMORY, anything else E_UNEXPECTED. Code built without
// exceptions (Brevlin.dll's) has none to catch.
template <class Fn>
HRESULT GuardCall(Fn&& fn) noexcept {
#if __cpp_exceptions
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
#else
    return fn();
#endif
}

}  // namespace comkit
