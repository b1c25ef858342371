// The rows of TelSim's fidelity table that can be checked against the
// registered service without placing a call on a real line. Each writes one
// line of the table per row.
#pragma once

#include "tools/fidelity/report.h"
#include "tools/fidelity/service.h"

#include <string>

namespace fidelity {

// The line whose calls raise the events the event rows need.
struct CallLine {
    size_t index = 0;         // in enumeration order, the same on every root
    long mediaType = 0;       // one the line carries
    bool mayConnect = false;  // named by --connect: a simulated line
    std::wstring name;
};

// Initialize and Shutdown, and methods before Initialize.
void CheckLifecycle(Report& report);
// The lines, CreateCall and media on them, and the objects' agility. The
// rows that need a call leave it idle: it is created and never connected.
void CheckLines(Report& report, const Session& session);
// Where and when events reach a sink; N/A with `why` when `line` is null.
void CheckEvents(Report& report, const CallLine* line, const std::wstring& why);

}  // namespace fidelity
