// Critical sections with ATL's names, and a scoped lock.
#pragma once

#include <windows.h>

#include <mutex>

namespace comkit {

// Must be initialised with Init before use; Term deletes it. Lock and Unlock
// on an uninitialised section are a programming error.
class CComCriticalSection {
public:
    CComCriticalSection() noexcept = default;
    CComCriticalSection(const CComCriticalSection&) = delete;
    CComCriticalSection& operator=(const CComCriticalSection&) = delete;
    ~CComCriticalSection() = default;

    HRESULT Init() noexcept {
        if (m_initialised)
            return S_OK;
        if (!InitializeCriticalSectionEx(&m_sec, 0, 0))
            return HRESULT_FROM_WIN32(GetLastError());
        m_initialised = true;
        return S_OK;
    }
    void Term() noexcept {
        if (m_initialised)
            DeleteCriticalSection(&m_sec);
        m_initialised = false;
    }
    void Lock() noexcept { EnterCriticalSection(&m_sec); }
    // Takes the lock only if no other thread holds it.
    bool TryLock() noexcept { return TryEnterCriticalSection(&m_sec) != FALSE; }
    void Unlock() noexcept { LeaveCriticalSection(&m_sec); }
    bool IsInitialised() const noexcept { return m_initialised; }
    // For SleepConditionVariableCS.
    CRITICAL_SECTION* Native() noexcept { return &m_sec; }

private:
    CRITICAL_SECTION m_sec{};
    bool m_initialised = false;
};

// Initialised on construction, deleted on destruction.
class CComAutoCriticalSection : public CComCriticalSection {
public:
    CComAutoCriticalSection() noexcept { (void)Init(); }
    ~CComAutoCriticalSection() { Term(); }
};

// Holds a lock (anything with Lock/Unlock) for the scope.
template <class Section>
class CComCritSecLock {
public:
    explicit CComCritSecLock(Section& s) noexcept : m_s(s) { m_s.Lock(); }
    // Takes over a lock the caller already holds.
    CComCritSecLock(Section& s, std::adopt_lock_t) noexcept : m_s(s) {}
    CComCritSecLock(const CComCritSecLock&) = delete;
    CComCritSecLock& operator=(const CComCritSecLock&) = delete;
    ~CComCritSecLock() { m_s.Unlock(); }

private:
    Section& m_s;
};

}  // namespace comkit

using comkit::CComAutoCriticalSection;
using comkit::CComCriticalSection;
using comkit::CComCritSecLock;
