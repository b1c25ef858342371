#include "tools/fidelity/report.h"

#include <cstdio>

namespace fidelity {

void Report::Pass(const wchar_t* row, const std::wstring& detail) {
    ++passed_;
    Line(L"PASS", row, detail);
}

void Report::Fail(const wchar_t* row, const std::wstring& detail) {
    ++failed_;
    Line(L"FAIL", row, detail);
}

void Report::NotApplicable(const wchar_t* row, const std::wstring& reason) {
    ++notApplicable_;
    Line(L"N/A", row, reason);
}

int Report::Finish() const {
    std::wprintf(L"%d passed, %d failed, %d not applicable\n", passed_, failed_, notApplicable_);
    std::fflush(stdout);
    return failed_ == 0 ? 0 : 1;
}

void Report::Line(const wchar_t* verdict, const wchar_t* row, const std::wstring& detail) const {
    std::wprintf(L"%ls %ls: %ls\n", verdict, row, detail.c_str());
    // A runner's log keeps what was printed before a hang in a later row.
    std::fflush(stdout);
}

std::wstring Hex(long value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(value));
    return text;
}

}  // namespace fidelity
