// Move-only owner of a BSTR.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cassert>
#include <utility>

namespace comkit {

class UniqueBstr {
public:
    UniqueBstr() noexcept = default;
    // Takes ownership of s.
    explicit UniqueBstr(BSTR s) noexcept : m_s(s) {}
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    UniqueBstr(UniqueBstr&& other) noexcept : m_s(other.Release()) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~UniqueBstr() { Reset(); }

    // Still owned by this object.
    BSTR Get() const noexcept { return m_s; }
    // Frees the held string and takes ownership of s.
    void Reset(BSTR s = nullptr) noexcept {
        if (m_s != s)
            SysFreeString(m_s);
        m_s = s;
    }
    // Gives up ownership; the caller frees the result.
    [[nodiscard]] BSTR Release() noexcept { return std::exchange(m_s, nullptr); }
    // For out-parameters; the owner must be empty so that nothing leaks.
    BSTR* Receive() noexcept {
        assert(m_s == nullptr && "UniqueBstr::Receive on a non-empty owner");
        return &m_s;
    }
    UINT Length() const noexcept { return SysStringLen(m_s); }
    explicit operator bool() const noexcept { return m_s != nullptr; }

private:
    BSTR m_s = nullptr;
};

}  // namespace comkit
