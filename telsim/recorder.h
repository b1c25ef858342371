// The recorder: every operation a client makes, in order with its arguments
// and result, and the failures injected into them.
#pragma once

#include "comkit/result.h"
#include "telsim/operations.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace telsim {

// A chosen failure of a named operation. The first `skip` calls succeed,
// then `count` calls (-1: all later calls) return `hr`; with nullOut they
// return S_OK with a null out object (or null BSTR) instead. A NullOut fault
// on an operation without an out object or string leaves it working.
struct Fault {
    HRESULT hr = E_FAIL;
    bool nullOut = false;
    int skip = 0;
    int count = -1;
};

// One recorded operation.
struct Operation {
    std::wstring name;  // one of the op:: names
    std::wstring args;  // e.g. L"\"5550100\",1,24"; empty for none
    HRESULT result = S_OK;
    bool query = false;             // a QueryInterface for an optional interface
    std::wstring ToString() const;  // name(args)
};

// One call of an operation as it runs: the fault chosen for it. Each Admit
// is the operation's first step: it refuses a null pointer argument with
// E_POINTER (an out-parameter is first set to null or to `initial`), then
// returns the injected failure, S_OK when there is none.
struct Gate {
    HRESULT fault = S_OK;
    bool nullOut = false;                              // succeed with a null out object or string
    std::size_t index = static_cast<std::size_t>(-1);  // into the record

    HRESULT Admit() const noexcept { return fault; }
    HRESULT Admit(const void* required) const noexcept { return required ? fault : E_POINTER; }
    template <class T>
    HRESULT AdmitOut(T** out) const noexcept {
        return AdmitOut(out, static_cast<T*>(nullptr));
    }
    template <class T, class V>
    HRESULT AdmitOut(T* out, V initial) const noexcept {
        if (!out) {
            return E_POINTER;
        }
        *out = static_cast<T>(initial);
        return fault;
    }
};

class Recorder {
public:
    // Runs one operation: records it (its arguments formatted by `args` only
    // while recording), runs body(gate) with the fault chosen for this call,
    // records its result and returns it. No exception leaves: std::bad_alloc
    // becomes E_OUTOFMEMORY.
    template <class ArgsFn, class Body>
    HRESULT Run(const wchar_t* name, ArgsFn&& args, Body&& body) noexcept {
        const Gate gate = Begin(name, args);
        return Finish(gate, comkit::GuardCall([&]() -> HRESULT { return body(gate); }));
    }
    template <class Body>
    HRESULT Run(const wchar_t* name, Body&& body) noexcept {
        return Run(
            name, [] { return std::wstring(); }, body);
    }
    // An operation that hands out an object or string through out, checking
    // nothing first: after Gate::AdmitOut, a NullOut fault succeeds with out
    // left null; otherwise work() hands it out.
    template <class ArgsFn, class T, class Work>
    HRESULT RunHandOut(const wchar_t* name, ArgsFn&& args, T** out, Work&& work) noexcept {
        return Run(name, args, [&](const Gate& gate) -> HRESULT {
            RETURN_IF_FAILED(gate.AdmitOut(out));
            return gate.nullOut ? S_OK : work();
        });
    }
    // The two halves of Run, for an operation whose body is not a function.
    template <class ArgsFn>
    Gate Begin(const wchar_t* name, ArgsFn&& args, bool query = false) noexcept {
        std::wstring text;
        if (recording_.load()) {
            try {
                text = args();
            } catch (...) {
                text.clear();
            }
        }
        return BeginWith(name, query, std::move(text));
    }
    HRESULT Finish(const Gate& gate, HRESULT hr) noexcept;

    // Recording keeps at most `cap` operations, 200000 unless set (later
    // ones are counted in the per-name counters only): a long run costs no
    // more than some tens of megabytes. Off: nothing is recorded or counted;
    // faults still apply.
    void SetRecording(bool on, std::size_t cap = 200000);
    // Recorded operations in order; queries for optional interfaces only
    // when includeQueries.
    std::vector<Operation> Operations(bool includeQueries = false) const;
    // Distinct operation names used so far, in order of first use (queries
    // included): the list a fault-injection suite walks.
    std::vector<std::wstring> OperationNames() const;
    // How many times an operation was called (counted even beyond the cap).
    std::size_t CountOf(std::wstring_view name) const;
    void ClearOperations();

    void Inject(std::wstring_view name, Fault fault);
    void FailOperation(std::wstring_view name, HRESULT hr, int skip = 0, int count = -1);
    void NullOut(std::wstring_view name, int skip = 0, int count = -1);
    void ClearFaults();

private:
    struct FaultState {
        Fault fault;
        int seen = 0;
    };

    Gate BeginWith(const wchar_t* name, bool query, std::wstring args) noexcept;

    mutable std::mutex mu_;
    std::atomic<bool> recording_{true};
    std::size_t cap_ = 200000;
    std::vector<Operation> ops_;
    std::map<std::wstring, std::size_t, std::less<>> counts_;
    std::vector<std::wstring> names_;
    std::map<std::wstring, FaultState, std::less<>> faults_;
};

// Argument formatting for records.
std::wstring Quote(const wchar_t* text);  // "text", or null

inline std::wstring ArgList() {
    return std::wstring();
}
template <class T>
std::wstring ArgText(const T& value) {
    if constexpr (std::is_convertible_v<T, std::wstring>) {
        return std::wstring(value);
    } else {
        return std::to_wstring(value);
    }
}
template <class First, class... Rest>
std::wstring ArgList(const First& first, const Rest&... rest) {
    std::wstring text = ArgText(first);
    ((text += L",", text += ArgText(rest)), ...);
    return text;
}

}  // namespace telsim
