// A file of the test's own in the temporary folder, deleted with this object.
#pragma once

#include <string>

namespace test_support {

class ScratchFile {
public:
    ScratchFile();
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::wstring& Path() const noexcept { return m_path; }
    // Replaces the content with these bytes; false unless all were written.
    bool Write(const std::string& bytes) const;

private:
    std::wstring m_path;
};

}  // namespace test_support
