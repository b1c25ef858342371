#include "faulty_stream.h"

#include <algorithm>
#include <cstring>

#include "support/test_double.h"

namespace reliability {

FaultyStream::FaultyStream(std::string data, std::size_t troubleAt, Trouble trouble,
                           HRESULT failure)
    : m_data(std::move(data)), m_troubleAt(troubleAt), m_trouble(trouble), m_failure(failure) {}

HRESULT FaultyStream::QueryInterface(REFIID riid, void** ppv) noexcept {
    return test_support::QueryAny<IStream>(this, riid, ppv,
                                           {IID_IUnknown, IID_ISequentialStream, IID_IStream});
}

ULONG FaultyStream::AddRef() noexcept {
    return static_cast<ULONG>(InterlockedIncrement(&m_refs));
}

ULONG FaultyStream::Release() noexcept {
    return static_cast<ULONG>(InterlockedDecrement(&m_refs));
}

HRESULT FaultyStream::Read(void* data, ULONG size, ULONG* read) noexcept {
    ++m_reads;
    if (read) {
        *read = 0;
    }
    if (!data) {
        return STG_E_INVALIDPOINTER;
    }
    const bool troubled = m_trouble != Trouble::None;
    const std::size_t limit = troubled ? std::min(m_troubleAt, m_data.size()) : m_data.size();
    const std::size_t count =
        std::min<std::size_t>(size, limit > m_position ? limit - m_position : 0);
    std::memcpy(data, m_data.data() + m_position, count);
    m_position += count;
    if (read) {
        *read = static_cast<ULONG>(count);
    }
    if (count == size) {
        return S_OK;
    }
    if (troubled && m_position == m_troubleAt) {
        switch (m_trouble) {
        case Trouble::Fails:
            return m_failure;
        case Trouble::EndOfData:
            return S_FALSE;
        default:
            return S_OK;
        }
    }
    return S_OK;  // the end of the data, as a memory stream reports it
}

HRESULT FaultyStream::Write(const void*, ULONG, ULONG*) noexcept {
    return STG_E_ACCESSDENIED;
}
HRESULT FaultyStream::Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) noexcept {
    return E_NOTIMPL;
}
HRESULT FaultyStream::SetSize(ULARGE_INTEGER) noexcept {
    return E_NOTIMPL;
}
HRESULT FaultyStream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) noexcept {
    return E_NOTIMPL;
}
HRESULT FaultyStream::Commit(DWORD) noexcept {
    return E_NOTIMPL;
}
HRESULT FaultyStream::Revert() noexcept {
    return E_NOTIMPL;
}
HRESULT FaultyStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept {
    return E_NOTIMPL;
}
HRESULT FaultyStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept {
    return E_NOTIMPL;
}
HRESULT FaultyStream::Stat(STATSTG*, DWORD) noexcept {
    return E_NOTIMPL;
}
HRESULT FaultyStream::Clone(IStream** stream) noexcept {
    if (stream) {
        *stream = nullptr;
    }
    return E_NOTIMPL;
}

}  // namespace reliability
