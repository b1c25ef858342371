#include "comkit/wide_buffer.h"

#include <utility>

namespace comkit {
namespace {

// Characters, so that the byte count with the NUL never overflows.
constexpr size_t kMaxLength = (static_cast<size_t>(-1) / sizeof(wchar_t)) / 2 - 1;

// The most characters a block of the process heap holds below the size from
// which the heap maps every block afresh and unmaps it when freed (0x7F000
// bytes in 32-bit processes, twice that in 64-bit ones), less room for the
// block's header and the NUL.
constexpr size_t kBelowLargeBlock = 0x7F000 * (sizeof(void*) / 4) / sizeof(wchar_t) - 64;

}  // namespace

WideBuffer::WideBuffer(WideBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)) {}

WideBuffer& WideBuffer::operator=(WideBuffer&& other) noexcept {
    if (this != &other) {
        WideBuffer old(std::move(*this));
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
    }
    return *this;
}

WideBuffer::~WideBuffer() {
    if (m_data) {
        HeapFree(GetProcessHeap(), 0, m_data);
    }
}

bool WideBuffer::Reserve(size_t length) noexcept {
    if (length <= m_capacity) {
        return true;
    }
    if (length > kMaxLength) {
        return false;
    }
    // Doubling keeps a long run of appends linear. A doubling that would
    // cross into the heap's mapped blocks while the contents still fit below
    // stops short: a list that fits would otherwise pay a mapping, a page
    // fault per page and an unmapping each time it is built.
    size_t capacity = m_capacity < 16 ? 16 : m_capacity * 2;
    if (capacity > kBelowLargeBlock && length <= kBelowLargeBlock) {
        capacity = kBelowLargeBlock;
    }
    if (capacity < length || capacity > kMaxLength) {
        capacity = length;
    }
    const size_t bytes = (capacity + 1) * sizeof(wchar_t);
    HANDLE heap = GetProcessHeap();
    void* grown = m_data ? HeapReAlloc(heap, 0, m_data, bytes) : HeapAlloc(heap, 0, bytes);
    if (!grown) {
        return false;
    }
    m_data = static_cast<wchar_t*>(grown);
    m_capacity = capacity;
    return true;
}

bool WideBuffer::Append(const wchar_t* text, size_t length) noexcept {
    if (length == 0) {
        return true;
    }
    if (length > kMaxLength - m_size || !Reserve(m_size + length)) {
        return false;
    }
    CopyMemory(m_data + m_size, text, length * sizeof(wchar_t));
    m_size += length;
    m_data[m_size] = L'\0';
    return true;
}

bool WideBuffer::Resize(size_t length) noexcept {
    if (length <= m_size) {
        Truncate(length);
        return true;
    }
    if (!Reserve(length)) {
        return false;
    }
    ZeroMemory(m_data + m_size, (length - m_size + 1) * sizeof(wchar_t));
    m_size = length;
    return true;
}

void WideBuffer::Truncate(size_t length) noexcept {
    if (length < m_size) {
        m_size = length;
        m_data[m_size] = L'\0';
    }
}

}  // namespace comkit
