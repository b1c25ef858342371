#include "telsim/string_tracker.h"

#include "telsim/ledger.h"

#include <psapi.h>

#include <mutex>
#include <unordered_map>
#include <vector>

namespace telsim::strings {
namespace {

using FreeFn = void(WINAPI*)(BSTR);

struct Entry {
    Ledger* owner;
    bool freed;  // in quarantine
};

std::mutex& Lock() {
    static std::mutex mu;
    return mu;
}
std::unordered_map<BSTR, Entry>& Table() {
    static std::unordered_map<BSTR, Entry> table;
    return table;
}
std::unordered_map<const Ledger*, std::size_t>& LiveCounts() {
    static std::unordered_map<const Ledger*, std::size_t> counts;
    return counts;
}

FreeFn g_realFree = nullptr;
bool g_hooked = false;

FreeFn RealFree() noexcept {
    if (!g_realFree) {
        HMODULE oleaut = LoadLibraryW(L"oleaut32.dll");
        g_realFree = reinterpret_cast<FreeFn>(
            reinterpret_cast<void*>(GetProcAddress(oleaut, "SysFreeString")));
    }
    return g_realFree;
}

void WINAPI FreeHook(BSTR text) {
    if (!text) {
        return;
    }
    Ledger* doubleFreeOf = nullptr;
    {
        std::lock_guard<std::mutex> lock(Lock());
        auto it = Table().find(text);
        if (it == Table().end()) {
            // Not ours: free it for real, outside the lock.
        } else if (!it->second.freed) {
            it->second.freed = true;
            auto& live = LiveCounts()[it->second.owner];
            if (live) {
                --live;
            }
            return;
        } else {
            doubleFreeOf = it->second.owner;
        }
    }
    if (doubleFreeOf) {
        doubleFreeOf->ReportMisuse(L"string freed twice");
        return;
    }
    RealFree()(text);
}

int PatchModule(HMODULE module, FreeFn real) noexcept {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) {
        return 0;
    }
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) {
        return 0;
    }
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress || !dir.Size) {
        return 0;
    }
    int patched = 0;
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         desc->Name; ++desc) {
        if (!desc->FirstThunk) {
            continue;
        }
        for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
             slot->u1.Function; ++slot) {
            if (slot->u1.Function != reinterpret_cast<ULONG_PTR>(real)) {
                continue;
            }
            DWORD old = 0;
            if (!VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE,
                                &old)) {
                continue;
            }
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(&FreeHook);
            VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), old, &old);
            ++patched;
        }
    }
    return patched;
}

}  // namespace

int HookLoadedModules() noexcept {
    const FreeFn real = RealFree();
    if (!real) {
        return 0;
    }
    std::vector<HMODULE> modules(1024);
    DWORD needed = 0;
    if (!K32EnumProcessModules(GetCurrentProcess(), modules.data(),
                               static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed)) {
        return 0;
    }
    modules.resize(std::min<std::size_t>(modules.size(), needed / sizeof(HMODULE)));
    const HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
    int patched = 0;
    for (HMODULE module : modules) {
        if (module != oleaut) {
            patched += PatchModule(module, real);
        }
    }
    std::lock_guard<std::mutex> lock(Lock());
    g_hooked = g_hooked || patched > 0;
    return patched;
}

bool Hooked() noexcept {
    std::lock_guard<std::mutex> lock(Lock());
    return g_hooked;
}

BSTR Allocate(Ledger* owner, const wchar_t* text, std::size_t length, bool counted) noexcept {
    BSTR result = SysAllocStringLen(text, static_cast<UINT>(length));
    if (!result || !counted) {
        return result;
    }
    try {
        std::lock_guard<std::mutex> lock(Lock());
        // A string of a former service may sit at this address only if it was
        // freed through an unpatched module; the new owner wins.
        Table()[result] = Entry{owner, false};
        ++LiveCounts()[owner];
    } catch (...) {
        // Not counted: the string is still valid for the caller.
    }
    return result;
}

std::size_t Live(const Ledger* owner) noexcept {
    std::lock_guard<std::mutex> lock(Lock());
    auto it = LiveCounts().find(owner);
    return it == LiveCounts().end() ? 0 : it->second;
}

void Forget(const Ledger* owner) noexcept {
    std::vector<BSTR> quarantined;
    {
        std::lock_guard<std::mutex> lock(Lock());
        for (auto it = Table().begin(); it != Table().end();) {
            if (it->second.owner != owner) {
                ++it;
                continue;
            }
            if (it->second.freed) {
                quarantined.push_back(it->first);
            }
            it = Table().erase(it);
        }
        LiveCounts().erase(owner);
    }
    for (BSTR text : quarantined) {
        RealFree()(text);
    }
}

}  // namespace telsim::strings
