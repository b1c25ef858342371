// The telephony service registered on this machine, as the rows reach it:
// root objects, their lines, and waiting as a single-threaded apartment must.
#pragma once

#include "telephony/tapi.h"

#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

namespace fidelity {

using Microsoft::WRL::ComPtr;

// A new root object of whatever server is registered for CLSID_TAPI.
HRESULT NewRoot(ComPtr<ITTAPI>& root);

struct Line {
    ComPtr<ITAddress> address;
    std::wstring name;
    bool named = false;       // the service gave a (non-null) name
    long addressTypes = 0;    // AC_ADDRESSTYPES; 0 when it cannot be read
    long mediaTypes = 0;      // ITMediaSupport::get_MediaTypes; 0 when it cannot be read
    std::wstring unreadable;  // what could not be read, for the table
};

// An initialised root object and its lines; shut down when it goes.
class Session {
public:
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session();

    // Creates and initialises the root and lists its lines; on failure,
    // `failure` says which step gave which code.
    bool Open(std::wstring& failure);
    ITTAPI* Root() const { return root_.Get(); }
    const std::vector<Line>& Lines() const { return lines_; }

private:
    ComPtr<ITTAPI> root_;
    std::vector<Line> lines_;
};

// Whether a line takes phone numbers (LINEADDRESSTYPE_PHONENUMBER).
bool TakesPhoneNumbers(const Line& line);
// The first line that takes phone numbers and carries some medium; null
// if none does.
const Line* CallableLine(const std::vector<Line>& lines);
// One media type the line carries, audio or data modem first; 0 if none.
long OneMediaType(const Line& line);

// Dispatches this thread's messages for `ms` milliseconds, or until `done`
// answers true; true when it did.
bool PumpUntil(DWORD ms, const std::function<bool()>& done);
void PumpFor(DWORD ms);

}  // namespace fidelity
