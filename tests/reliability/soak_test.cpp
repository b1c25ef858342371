// Soak: many thousand Connect/Disconnect cycles with call-state events from
// the service's notification thread, some calls hung up by the far end while
// the host hangs up too, then calls with one operation gone wrong at random,
// and failing calls (an error object each) and address lists (a string each).
// Each block of cycles runs on a dialer and service of its own (the service
// keeps the memory of every object it handed out until it goes), and after
// each block nothing may be referenced and the process's handle count and
// private memory must stay where the first block left them.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "comkit/module.h"
#include "dialer_test_support.h"

using Microsoft::WRL::ComPtr;
using namespace dialer_test;

namespace {

constexpr int kCyclesPerBlock = 1000;
constexpr int kFailuresPerBlock = 100;
constexpr int kChaosPerBlock = 200;
constexpr unsigned kChaosSeed = 4242;
constexpr HRESULT kCallFailure = static_cast<HRESULT>(0x8004FA01);
constexpr int kMinBlocks = 10;
constexpr int kMaxBlocks = 100;
constexpr DWORD kBudgetMs = 30000;
// Growth allowed from the first block to the last: heap fragmentation and
// lazily grown runtime tables, not a per-cycle leak (a leak of 16 bytes a
// cycle over ten blocks already passes the memory bound).
constexpr DWORD kHandleTolerance = 16;
// A 32-bit process under WoW64 grows the platform's tables on both sides
// of the thunks: seen once at +320 KB, all within the first 30 blocks and
// flat for the 70 after them.
constexpr SIZE_T kMemoryTolerance = (sizeof(void*) == 4 ? 512 : 256) * 1024;

struct Figures {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
};

// One entry of the system handle list (SystemHandleInformation, class 16).
struct SystemHandleEntry {
    ULONG processId;
    UCHAR objectType;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};

// Wine answers GetProcessHandleCount with 0; the system handle list it does
// keep, so the process's own entries are counted there instead.
DWORD HandleCount(const char*& source) {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) {
        source = "GetProcessHandleCount";
        return count;
    }
    source = "system handle list";
    std::vector<BYTE> buffer(1 << 20);
    ULONG length = 0;
    while (NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16), buffer.data(),
                                    static_cast<ULONG>(buffer.size()), &length) != 0) {
        if (buffer.size() >= (64u << 20)) {
            return 0;
        }
        buffer.resize(buffer.size() * 2);
    }
    const ULONG entries = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entry = reinterpret_cast<const SystemHandleEntry*>(buffer.data() + sizeof(void*));
    for (ULONG i = 0; i < entries; ++i) {
        count += entry[i].processId == GetCurrentProcessId() ? 1 : 0;
    }
    return count;
}

// Wine leaves PrivateUsage at 0; the committed private pages of the address
// space are the same figure, summed by hand.
SIZE_T PrivateBytes(const char*& source) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters) &&
        counters.PrivateUsage > 0) {
        source = "PrivateUsage";
        return counters.PrivateUsage;
    }
    source = "committed private regions";
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const BYTE* p = nullptr; VirtualQuery(p, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            total += region.RegionSize;
        }
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= p) {
            break;
        }
        p = next;
    }
    return total;
}

Figures Measure(bool print = false) {
    const char* handleSource = "";
    const char* memorySource = "";
    Figures figures;
    figures.handles = HandleCount(handleSource);
    figures.privateBytes = PrivateBytes(memorySource);
    if (print) {
        std::printf("soak: handles from the %s, private memory from the %s\n", handleSource,
                    memorySource);
    }
    return figures;
}

// The threads of this process. The thread pool that runs the dialer's drops
// keeps an idle worker, and its stack, for a few seconds after its last work
// item: the last figures are taken once the threads are back to the first
// figures' number, so that workers still idle count against neither.
DWORD ThreadCount() {
    const std::unique_ptr<void, decltype(&CloseHandle)> snapshot(
        CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0), &CloseHandle);
    if (snapshot.get() == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    return count;
}

Figures MeasureWithThreadsAtMost(DWORD threads) {
    constexpr DWORD kSettleMs = 20000;
    const DWORD start = GetTickCount();
    while (ThreadCount() > threads && GetTickCount() - start < kSettleMs) {
        Sleep(100);
    }
    std::printf("soak: %lu threads (the first figures' %lu) after %lu ms\n",
                static_cast<unsigned long>(ThreadCount()), static_cast<unsigned long>(threads),
                static_cast<unsigned long>(GetTickCount() - start));
    return Measure();
}

// Handles the platform itself keeps per error report. Wine 8's
// ProgIDFromCLSID leaves a registry key open each time it finds no ProgID,
// as here, where the class is not registered; Windows keeps none. Measured,
// so that only what the dialer keeps counts against it.
double PlatformHandlesPerReport() {
    constexpr int kLookups = 200;
    const char* source = "";
    const DWORD before = HandleCount(source);
    for (int i = 0; i < kLookups; ++i) {
        LPOLESTR progId = nullptr;
        ProgIDFromCLSID(CLSID_TAPIDialer, &progId);
        CoTaskMemFree(progId);
    }
    // Whole handles per report: a stray handle opened meanwhile elsewhere
    // in the process must not widen the allowance.
    return static_cast<double>(
        std::lround((static_cast<double>(HandleCount(source)) - before) / kLookups));
}

telsim::CallScript Script(bool farEndHangsUp) {
    telsim::CallScript script;
    if (farEndHangsUp) {
        script.onConnect = {
            {CS_INPROGRESS, 0}, {CS_CONNECTED, 0}, {CS_DISCONNECTED, 0, CEC_DISCONNECT_NORMAL}};
    }
    return script;
}

bool Connected(ITAPIDialer* dialer) {
    VARIANT_BOOL value = VARIANT_FALSE;
    return SUCCEEDED(dialer->get_Connected(&value)) && value == VARIANT_TRUE;
}

struct Tally {
    int lateHangUps = 0;
    int reports = 0;  // error objects left by failing calls
    int chaosCycles = 0;
    int chaosFailures = 0;
};

// The operations of a call's road that the chaos cycles disturb, and whether
// each hands out an object that can come back null.
struct ChaosOperation {
    const wchar_t* name;
    bool hasOutObject;
};
const ChaosOperation kChaos[] = {
    {telsim::op::QueryTranslation, true},
    {telsim::op::TranslateAddress, true},
    {telsim::op::GetDialableString, true},
    {telsim::op::CreateCall, true},
    {telsim::op::QueryStreamControl, true},
    {telsim::op::EnumerateStreams, true},
    {telsim::op::StreamNext, true},
    {telsim::op::StreamGetMediaType, false},
    {telsim::op::StreamGetDirection, false},
    {telsim::op::QueryTerminalSupport, true},
    {telsim::op::GetDefaultStaticTerminal, true},
    {telsim::op::SelectTerminal, false},
    {telsim::op::CallConnect, false},
    {telsim::op::CallDisconnect, false},
    {telsim::op::QueryCallStateEvent, true},
    {telsim::op::CallStateEventGetCall, true},
    {telsim::op::GetCallState, false},
};

bool TakeReport() {
    ComPtr<IErrorInfo> report;
    return GetErrorInfo(0, &report) == S_OK && report;
}

// One block: a fresh service and dialer, `cycles` calls placed and dropped,
// chaos cycles, failing calls, then shut down, released and checked.
void RunBlock(int block, int cycles, Tally& tally) {
    auto service = telsim::Service::Create();
    service->Recorder().SetRecording(false);
    service->Ledger().CountStrings(false);
    service->World().SetDelivery(telsim::Delivery::Apartment);
    const bool farEndHangsUp = block % 2 == 1;
    service->World().SetCallScript(Script(farEndHangsUp));
    ASSERT_HR(S_OK, service->RegisterClassObject());
    {
        ComPtr<ITAPIDialer> dialer;
        ASSERT_HR(S_OK, CreateDialer(dialer));
        ASSERT_HR(S_OK, dialer->InitializeTAPI());
        const Bstr number(kNumber);
        int failures = 0;
        for (int cycle = 0; cycle < cycles; ++cycle) {
            const HRESULT connected = dialer->Connect(number.Get());
            if (FAILED(connected)) {
                ++failures;
                ADD_FAILURE() << "Connect " << Hex(connected) << " in block " << block << ", cycle "
                              << cycle;
            }
            // Every fourth call is let reach its events before the hang-up;
            // the others race the notification thread.
            if (cycle % 4 == 0) {
                for (int spin = 0; spin < 1000 && !Connected(dialer.Get()); ++spin) {
                    Sleep(0);
                }
            }
            // A call that the far end has already left cannot be dropped any
            // more: the service says so, and the dialer passes it on.
            const HRESULT dropped = dialer->Disconnect();
            if (dropped == TAPI_E_INVALCALLSTATE && farEndHangsUp) {
                ++tally.lateHangUps;
            } else if (FAILED(dropped)) {
                ++failures;
                ADD_FAILURE() << "Disconnect " << Hex(dropped) << " in block " << block
                              << ", cycle " << cycle;
            }
            if (failures > 5) {
                break;
            }
        }
        service->Notifications().WaitIdle();

        // Chaos: in each cycle one operation of the road, chosen at random,
        // goes wrong once, failing or handing out nothing, while events of
        // earlier calls may still be on their way. Any answer will do; what
        // counts is what is left behind.
        std::mt19937 random(kChaosSeed + static_cast<unsigned>(block));
        for (int i = 0; i < kChaosPerBlock; ++i) {
            const ChaosOperation& chosen = kChaos[random() % std::size(kChaos)];
            telsim::Fault fault;
            fault.hr = kCallFailure;
            fault.nullOut = chosen.hasOutObject && random() % 3 == 0;
            fault.count = 1;
            service->Recorder().Inject(chosen.name, fault);
            SetErrorInfo(0, nullptr);
            const HRESULT placed = dialer->Connect(number.Get());
            tally.reports += TakeReport() ? 1 : 0;
            const HRESULT dropped = dialer->Disconnect();
            tally.chaosFailures += FAILED(placed) || FAILED(dropped) ? 1 : 0;
            ++tally.chaosCycles;
            service->Recorder().ClearFaults();
        }
        service->Notifications().WaitIdle();

        // Failing calls leave an error object on the thread each time, and
        // the address list hands out a string each time: neither may pile up.
        service->Recorder().FailOperation(telsim::op::CreateCall, kCallFailure);
        for (int i = 0; i < kFailuresPerBlock && failures <= 5; ++i) {
            const HRESULT hr = dialer->Connect(number.Get());
            if (hr != kCallFailure) {
                ++failures;
                ADD_FAILURE() << "failing Connect " << Hex(hr) << " in block " << block;
            }
            tally.reports += TakeReport() ? 1 : 0;
            Bstr list;
            if (dialer->GetAddressNameCSVList(list.Receive()) != S_FALSE ||
                list.Text() != L"Line 1,Line 2") {
                ++failures;
                ADD_FAILURE() << "address list in block " << block;
            }
        }
        service->Recorder().ClearFaults();
        SetErrorInfo(0, nullptr);
        EXPECT_HR(S_OK, dialer->ShutdownTAPI());
        EXPECT_EQ(0, service->Notifications().RegistrationsHeld());
    }
    service->Notifications().WaitIdle();
    EXPECT_EQ("", service->Ledger().Leaks()) << "block " << block;
    EXPECT_TRUE(service->Ledger().Misuses().empty()) << "block " << block;
    EXPECT_EQ(0, comkit::GetModule().GetLockCount());
    EXPECT_LE(static_cast<std::size_t>(cycles), service->World().CallsCreated());
    service->RevokeClassObject();
    service->Notifications().ReleaseSinks();
}

TEST(Soak, ConnectDisconnectCyclesLeaveNothingBehind) {
    Apartment apartment;

    const double platformPerReport = PlatformHandlesPerReport();
    std::printf("soak: the platform keeps %.2f handles per error report of an unregistered class\n",
                platformPerReport);

    const DWORD start = GetTickCount();
    Tally tally;
    RunBlock(0, kCyclesPerBlock, tally);
    const int firstReports = tally.reports;
    ASSERT_FALSE(::testing::Test::HasFailure());
    const DWORD firstBlockMs = std::max<DWORD>(1, GetTickCount() - start);
    const Figures first = Measure(true);
    const DWORD firstThreads = ThreadCount();
    const int blocks =
        std::clamp(static_cast<int>(kBudgetMs / firstBlockMs), kMinBlocks, kMaxBlocks);
    std::printf(
        "soak: first %d cycles in %lu ms (%.0f cycles/s); running %d blocks, %d cycles in all\n",
        kCyclesPerBlock, static_cast<unsigned long>(firstBlockMs),
        kCyclesPerBlock * 1000.0 / firstBlockMs, blocks, blocks * kCyclesPerBlock);
    std::printf("soak: after block 1: %lu handles, %zu KB private\n",
                static_cast<unsigned long>(first.handles),
                static_cast<std::size_t>(first.privateBytes / 1024));

    Figures last = first;
    for (int block = 1; block < blocks && !::testing::Test::HasFailure(); ++block) {
        RunBlock(block, kCyclesPerBlock, tally);
        if ((block + 1) % 10 == 0 || block + 1 == blocks) {
            last = Measure();
            std::printf("soak: after block %d (%d cycles): %lu handles, %zu KB private\n",
                        block + 1, (block + 1) * kCyclesPerBlock,
                        static_cast<unsigned long>(last.handles),
                        static_cast<std::size_t>(last.privateBytes / 1024));
        }
    }
    last = MeasureWithThreadsAtMost(firstThreads);
    std::printf("soak: %d hang-ups found the far end gone already\n", tally.lateHangUps);
    std::printf(
        "soak: %d chaos cycles (seed %u + block), %d with a failing Connect or Disconnect\n",
        tally.chaosCycles, kChaosSeed, tally.chaosFailures);
    std::printf(
        "soak: %lu ms in all; handles %+ld, private memory %+lld KB from the first block to the "
        "last\n",
        static_cast<unsigned long>(GetTickCount() - start),
        static_cast<long>(last.handles) - static_cast<long>(first.handles),
        (static_cast<long long>(last.privateBytes) - static_cast<long long>(first.privateBytes)) /
            1024);

    EXPECT_GT(first.handles, 0u) << "no handle count from the platform";
    EXPECT_GT(first.privateBytes, 0u) << "no private memory figure from the platform";
    const int reports = tally.reports - firstReports;
    const auto platformHandles = static_cast<DWORD>(platformPerReport * reports + 0.5);
    std::printf(
        "soak: %lu of the handles are the platform's own (%d error reports after the first "
        "block)\n",
        static_cast<unsigned long>(platformHandles), reports);
    EXPECT_LE(last.handles, first.handles + platformHandles + kHandleTolerance);
    EXPECT_LE(last.privateBytes, first.privateBytes + kMemoryTolerance);
}

}  // namespace
