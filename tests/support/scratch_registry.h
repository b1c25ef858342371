// HKEY_CLASSES_ROOT redirected onto a scratch key under HKEY_CURRENT_USER for
// the life of the object, and a readable dump of what lies under it.
#pragma once

#include <windows.h>

#include <string>

namespace test_support {

class ScratchClassesRoot {
public:
    ScratchClassesRoot();
    ScratchClassesRoot(const ScratchClassesRoot&) = delete;
    ScratchClassesRoot& operator=(const ScratchClassesRoot&) = delete;
    ~ScratchClassesRoot();

    HKEY Key() const { return m_key; }
    // Copies a key of the real classes root (with its subtree) into the
    // scratch root, for registrations the platform needs, such as stdole2's.
    bool CopyFromRealRoot(const wchar_t* subkey);
    // Every key and value below the scratch root, one sorted line each:
    //   path            for a key
    //   path|name=data  for a value (name "@" for the unnamed value)
    std::wstring Dump() const;

private:
    HKEY m_key = nullptr;
    std::wstring m_path;
};

}  // namespace test_support
