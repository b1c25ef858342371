// The program's table: one line per row, then a summary, and the exit status.
#pragma once

#include <windows.h>

#include <string>

namespace fidelity {

class Report {
public:
    void Pass(const wchar_t* row, const std::wstring& detail);
    void Fail(const wchar_t* row, const std::wstring& detail);
    void NotApplicable(const wchar_t* row, const std::wstring& reason);
    // Prints the summary; 0 when no row failed, else 1.
    int Finish() const;

private:
    void Line(const wchar_t* verdict, const wchar_t* row, const std::wstring& detail) const;

    int passed_ = 0;
    int failed_ = 0;
    int notApplicable_ = 0;
};

// 0x8004000B, as the platform's headers and tracing spell codes.
std::wstring Hex(long value);

}  // namespace fidelity
