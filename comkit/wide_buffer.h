// A growable, NUL-terminated run of wide characters on the process heap.
// It never throws: a growth that cannot be had answers false and leaves the
// contents as they were. Brevlin.dll links no C++ exception support and no
// std::wstring, so its strings under construction live here.
#pragma once

#include <windows.h>

#include <string_view>

namespace comkit {

class WideBuffer {
public:
    WideBuffer() noexcept = default;
    WideBuffer(const WideBuffer&) = delete;
    WideBuffer& operator=(const WideBuffer&) = delete;
    WideBuffer(WideBuffer&& other) noexcept;
    WideBuffer& operator=(WideBuffer&& other) noexcept;
    ~WideBuffer();

    [[nodiscard]] bool Append(const wchar_t* text, size_t length) noexcept;
    [[nodiscard]] bool Append(std::wstring_view text) noexcept {
        return Append(text.data(), text.size());
    }
    [[nodiscard]] bool Append(wchar_t c) noexcept { return Append(&c, 1); }
    [[nodiscard]] bool Assign(std::wstring_view text) noexcept {
        Clear();
        return Append(text);
    }
    // Makes the contents length characters long; characters added are L'\0'.
    [[nodiscard]] bool Resize(size_t length) noexcept;
    void Clear() noexcept { Truncate(0); }
    // Drops the characters from length on (no-op when already shorter).
    void Truncate(size_t length) noexcept;

    // Never null; L"" while nothing was ever stored.
    const wchar_t* CStr() const noexcept { return m_data ? m_data : L""; }
    // Writable contents, Size() characters (null while nothing was stored).
    wchar_t* Data() noexcept { return m_data; }
    size_t Size() const noexcept { return m_size; }
    bool Empty() const noexcept { return m_size == 0; }
    std::wstring_view View() const noexcept { return {CStr(), m_size}; }

private:
    bool Reserve(size_t length) noexcept;

    wchar_t* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;  // characters, not counting the terminating NUL
};

}  // namespace comkit
