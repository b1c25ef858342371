#include "support/scratch_file.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace test_support {

ScratchFile::ScratchFile() {
    wchar_t directory[MAX_PATH];
    wchar_t path[MAX_PATH];
    EXPECT_NE(0u, GetTempPathW(MAX_PATH, directory));
    EXPECT_NE(0u, GetTempFileNameW(directory, L"brv", 0, path));
    m_path = path;
}

ScratchFile::~ScratchFile() {
    DeleteFileW(m_path.c_str());
}

bool ScratchFile::Write(const std::string& bytes) const {
    HANDLE file = CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

}  // namespace test_support
