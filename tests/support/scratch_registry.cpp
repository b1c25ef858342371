#include "support/scratch_registry.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace test_support {
namespace {

// Buffers on the heap: keys may nest deep.
void DumpKey(HKEY key, const std::wstring& path, std::vector<std::wstring>& lines) {
    if (!path.empty())
        lines.push_back(path);
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(8192 + sizeof(wchar_t));
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size() - sizeof(wchar_t));
        DWORD type = 0;
        std::fill(data.begin(), data.end(), BYTE{0});
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(),
                          &dataSize) != ERROR_SUCCESS) {
            break;
        }
        std::wstring line =
            path + L"|" + (nameLength ? std::wstring(name.data(), nameLength) : L"@") + L"=";
        if (type == REG_SZ) {
            line += reinterpret_cast<const wchar_t*>(data.data());
        } else if (type == REG_DWORD) {
            line += L"dword:" + std::to_wstring(*reinterpret_cast<const DWORD*>(data.data()));
        } else {
            line += L"type:" + std::to_wstring(type);
        }
        lines.push_back(line);
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        const std::wstring subName(name.data(), nameLength);
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, subName.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS)
            continue;
        DumpKey(sub, path.empty() ? subName : path + L"\\" + subName, lines);
        RegCloseKey(sub);
    }
}

}  // namespace

ScratchClassesRoot::ScratchClassesRoot() {
    m_path = L"Software\\BrevlinTests\\Scratch" + std::to_wstring(GetCurrentProcessId());
    RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    if (RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &m_key, nullptr) != ERROR_SUCCESS ||
        RegOverridePredefKey(HKEY_CLASSES_ROOT, m_key) != ERROR_SUCCESS) {
        throw std::runtime_error("no scratch registry root");
    }
}

ScratchClassesRoot::~ScratchClassesRoot() {
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegCloseKey(m_key);
    RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
}

bool ScratchClassesRoot::CopyFromRealRoot(const wchar_t* subkey) {
    const std::wstring source = std::wstring(L"Software\\Classes\\") + subkey;
    HKEY from = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, source.c_str(), 0, KEY_READ, &from) != ERROR_SUCCESS)
        return false;
    HKEY to = nullptr;
    bool ok = RegCreateKeyExW(m_key, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &to,
                              nullptr) == ERROR_SUCCESS;
    if (ok) {
        ok = RegCopyTreeW(from, nullptr, to) == ERROR_SUCCESS;
        RegCloseKey(to);
    }
    RegCloseKey(from);
    return ok;
}

std::wstring ScratchClassesRoot::Dump() const {
    std::vector<std::wstring> lines;
    DumpKey(m_key, L"", lines);
    std::sort(lines.begin(), lines.end());
    std::wstring out;
    for (const std::wstring& line : lines)
        out += line + L"\n";
    return out;
}

}  // namespace test_support
