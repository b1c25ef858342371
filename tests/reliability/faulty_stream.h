// A read-only IStream over a byte string that can go wrong at any byte: a
// read that reaches the chosen offset delivers the bytes before it and then
// fails, comes back short with S_OK, or comes back short with S_FALSE (as at
// the end of the data). Anything but reading is refused. A stack object for
// the test's scope: its count is checked, never used to delete it.
#pragma once

#include <objidl.h>

#include <string>

namespace reliability {

class FaultyStream final : public IStream {
public:
    enum class Trouble { None, Fails, ShortRead, EndOfData };

    FaultyStream(std::string data, std::size_t troubleAt, Trouble trouble, HRESULT failure);
    FaultyStream(const FaultyStream&) = delete;
    FaultyStream& operator=(const FaultyStream&) = delete;

    LONG References() const noexcept { return m_refs; }
    int Reads() const noexcept { return m_reads; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;

    // ISequentialStream
    HRESULT STDMETHODCALLTYPE Read(void* data, ULONG size, ULONG* read) noexcept override;
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) noexcept override;

    // IStream
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) noexcept override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) noexcept override;
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) noexcept override;
    HRESULT STDMETHODCALLTYPE Commit(DWORD) noexcept override;
    HRESULT STDMETHODCALLTYPE Revert() noexcept override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) noexcept override;
    HRESULT STDMETHODCALLTYPE Clone(IStream**) noexcept override;

private:
    std::string m_data;
    std::size_t m_position = 0;
    std::size_t m_troubleAt;
    Trouble m_trouble;
    HRESULT m_failure;
    LONG m_refs = 1;
    int m_reads = 0;
};

}  // namespace reliability
