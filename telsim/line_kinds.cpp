#include "telsim/line_kinds.h"

#include "telsim/modem/modem_driver.h"
#include "telsim/sip/sip_line.h"

#include <cwchar>
#include <string>

namespace telsim {

const std::vector<const LineKind*>& LineKinds() {
    static const std::vector<const LineKind*> kinds{&modem::ModemLineKind(), &sip::SipLineKind()};
    return kinds;
}

const LineKind* FindLineKind(std::wstring_view name) {
    const std::wstring wanted(name);
    for (const LineKind* kind : LineKinds()) {
        if (_wcsicmp(kind->name, wanted.c_str()) == 0) {
            return kind;
        }
    }
    return nullptr;
}

long LineThreadsRunning() noexcept {
    long running = 0;
    for (const LineKind* kind : LineKinds()) {
        running += kind->threadsRunning();
    }
    return running;
}

}  // namespace telsim
