// What every benchmark section shares: the component as a host loads it,
// the run's settings, and failing the run when a measurement cannot be made.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include "brevlin_idl.h"

namespace bench {

// Ends the run (exit 1) rather than print a number that means something else.
[[noreturn]] void Fail(const char* what, HRESULT hr = S_OK);
void Check(HRESULT hr, const char* what);

struct Component {
    HMODULE module = nullptr;
    Microsoft::WRL::ComPtr<IClassFactory> factory;
    HRESULT(STDAPICALLTYPE* registerServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* unregisterServer)() = nullptr;
};

// Loads the DLL and takes its class object, as a host reaches it.
HRESULT LoadComponent(const wchar_t* path, Component& c);
Microsoft::WRL::ComPtr<ITAPIDialer> NewDialer(Component& c);

class Bstr {
public:
    explicit Bstr(const wchar_t* text) : value_(SysAllocString(text)) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(value_); }
    BSTR Get() const { return value_; }

private:
    BSTR value_;
};

struct Settings {
    int rounds;        // of the rows timed in loops
    int listRounds;    // of the line listings, one listing a round
    int eventRounds;   // of the event delivery, one event a round
    int hangUpRounds;  // of the slow hang-ups, one each way a round
};

}  // namespace bench
