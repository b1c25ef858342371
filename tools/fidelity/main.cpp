// Checks, against the telephony service registered on this machine, the
// behaviours that TelSim (telsim/README.md, "Fidelity") claims to share with
// Windows' service, and prints one line per behaviour: PASS, FAIL or N/A.
//
//   fidelity [--connect LINE]
//
// It places no call: calls are created and left idle. --connect names a
// simulated line whose calls it may connect, so that events can be raised
// there; never name a real one. Exit status 0 when no row failed, 1 when
// one did, 2 for a usage error.
#include "tools/fidelity/rows.h"

#include <cstdio>

namespace {

using fidelity::CallLine;

// Which line the event rows raise their calls on, or why there is none.
bool ChooseCallLine(const std::vector<fidelity::Line>& lines, const std::wstring& connect,
                    CallLine& chosen, std::wstring& why) {
    const fidelity::Line* line = nullptr;
    if (!connect.empty()) {
        for (const fidelity::Line& candidate : lines) {
            if (candidate.named && candidate.name == connect) {
                line = &candidate;
                break;
            }
        }
        why = L"no line named \"" + connect + L"\"";
    } else {
        line = fidelity::CallableLine(lines);
        why = L"no line takes phone numbers and carries a media type";
    }
    if (!line) {
        return false;
    }
    if (!fidelity::TakesPhoneNumbers(*line) || !fidelity::OneMediaType(*line)) {
        why = L"\"" + line->name + L"\" takes no phone numbers or carries no media type";
        return false;
    }
    chosen.index = static_cast<size_t>(line - lines.data());
    chosen.mediaType = fidelity::OneMediaType(*line);
    chosen.mayConnect = !connect.empty();
    chosen.name = line->name;
    return true;
}

int Run(const std::wstring& connect) {
    fidelity::Report report;
    fidelity::CheckLifecycle(report);
    CallLine callLine;
    std::wstring why;
    bool haveCallLine = false;
    {
        fidelity::Session session;
        if (session.Open(why)) {
            fidelity::CheckLines(report, session);
            haveCallLine = ChooseCallLine(session.Lines(), connect, callLine, why);
        } else {
            report.Fail(L"a machine's lines", why);
        }
    }
    fidelity::CheckEvents(report, haveCallLine ? &callLine : nullptr, why);
    return report.Finish();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring connect;
    if (argc == 3 && std::wstring(argv[1]) == L"--connect" && argv[2][0]) {
        connect = argv[2];
    } else if (argc != 1) {
        std::fwprintf(stderr, L"usage: fidelity [--connect SIMULATED_LINE]\n");
        return 2;
    }
    // A script host's thread is a single-threaded apartment, as the dialer's
    // hosts are; the rows wait as such a thread must.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(com)) {
        std::fwprintf(stderr, L"CoInitializeEx failed: 0x%08lX\n", static_cast<unsigned long>(com));
        return 1;
    }
    const int status = Run(connect);
    CoUninitialize();
    return status;
}
