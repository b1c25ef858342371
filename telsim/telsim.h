// TelSim: a simulated telephony service (TAPI 3) for tests and demos.
//
// A Service is one fake telephony world. It owns four parts, each reached by
// name (telsim/README.md, "Where things are", maps the files):
//   Recorder()       the operations a client made, in order, and the
//                    failures injected into them (recorder.h, operations.h);
//   Ledger()         every object and string handed out, what a client still
//                    holds, and a client's misuse (ledger.h);
//   World()          the lines, how calls go, the calls placed (world.h);
//   Notifications()  root objects, their sinks and registrations, and the
//                    delivery of events (notifications.h).
// Root objects made by CreateRoot (or by CoCreateInstance(CLSID_TAPI) once
// RegisterClassObject has run) are served from it.
//
// Typical test:
//
//   auto svc = telsim::Service::Create();
//   svc->World().SetAddresses({{L"Modem A"}, {L"Fax", 1, VARIANT_FALSE}});
//   ASSERT_EQ(S_OK, svc->RegisterClassObject());
//   ... drive the dialer ...
//   svc->Notifications().WaitIdle();
//   EXPECT_EQ("", svc->Ledger().Leaks());
//
// Lifetime: the Service owns the memory of every object it hands out. Keep
// the shared_ptr alive until every object from it has been released (that
// is what Leaks() checks). A released object is kept as a zombie until the
// Service goes, so a release past zero is recorded, never a crash.
//
// Threads: every member may be called from any thread. The service never
// holds a lock of its own while it calls an advised sink. A test thread of a
// single-threaded apartment must pump (Notifications().WaitIdle() does) for
// its sinks to see events.
#pragma once

#include "telsim/ledger.h"
#include "telsim/notifications.h"
#include "telsim/operations.h"
#include "telsim/recorder.h"
#include "telsim/world.h"

#include <memory>

namespace telsim {

class Service : public std::enable_shared_from_this<Service> {
public:
    // A new, empty-fault service with the default world: two suitable lines
    // ("Line 1", "Line 2") and the default CallScript, delivering events as
    // the real service does (Delivery::Apartment). Also installs the
    // string-free tracking hook in every loaded module (see
    // TrackStringFrees), and registers the sink's marshalling for this
    // program where none is registered (marshal/event_marshalling.h).
    static std::shared_ptr<Service> Create();
    // A service for a long-running host (TelSim.dll): an empty world that
    // records nothing, accounts no string and hooks no module.
    static std::shared_ptr<Service> CreateQuiet();
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    telsim::Recorder& Recorder() noexcept { return recorder_; }
    telsim::Ledger& Ledger() noexcept { return ledger_; }
    telsim::World& World() noexcept { return world_; }
    telsim::Notifications& Notifications() noexcept { return notifications_; }

    // What CoCreateInstance(CLSID_TAPI, ...) gives: a new root object, not
    // initialised. Supports aggregation refusal (CLASS_E_NOAGGREGATION).
    HRESULT CreateRoot(IUnknown* outer, REFIID riid, void** ppv) noexcept;
    // Registers a class object for CLSID_TAPI in this process (REGCLS_MULTIPLEUSE,
    // CLSCTX_INPROC_SERVER) serving CreateRoot; RevokeClassObject undoes it
    // (the destructor too).
    HRESULT RegisterClassObject();
    void RevokeClassObject();

    // Installs (again) the SysFreeString hook in every module loaded now, so
    // that strings handed out and freed through a module loaded later (a
    // DLL under test) are accounted too; making a root object does this by
    // itself once Create has run. Returns the number of import slots patched.
    static int TrackStringFrees();

private:
    Service();

    // The ledger is declared first so that it goes last: it owns the memory
    // of every object, and the objects link to the other parts.
    telsim::Ledger ledger_;
    telsim::Recorder recorder_;
    telsim::World world_{*this};
    telsim::Notifications notifications_{*this};
    DWORD classCookie_ = 0;  // of RegisterClassObject, 0 when none
};

}  // namespace telsim
