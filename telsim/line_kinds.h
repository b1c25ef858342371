// The kinds of line a scenario names with Kind= (besides "simulated", the
// default: a line whose calls follow the CallScript). A new kind adds its
// entry to the table in line_kinds.cpp; nothing else in the service changes.
#pragma once

#include "telsim/call_driver.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace telsim {

struct LineKind {
    const wchar_t* name;  // the Kind= word, in any case
    // The [LineN] keys this kind reads; refused on a line of another kind.
    std::vector<const wchar_t*> keys;
    // A device with its defaults, before the keys are read.
    std::shared_ptr<LineDevice> (*create)();
    // Applies one key: S_OK, or a failure when the value is not understood.
    HRESULT (*setOption)(LineDevice& device, std::wstring_view key, std::wstring_view value);
    // Threads of this kind still running in the module (it must not unload).
    long (*threadsRunning)() noexcept;
    // Once every key is applied: what is missing or does not fit together,
    // empty when the line is complete. Null: nothing to check.
    std::wstring (*complete)(LineDevice& device);
};

const std::vector<const LineKind*>& LineKinds();
// The kind named (in any case), or null.
const LineKind* FindLineKind(std::wstring_view name);
// Threads of any kind still running in the module.
long LineThreadsRunning() noexcept;

}  // namespace telsim
