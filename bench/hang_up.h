// The service's event thread while a host hangs up a call slowly.
#pragma once

#include "harness.h"
#include "telsim/telsim.h"

namespace bench {

// While the host's thread is inside Disconnect of a call whose line takes 2 s
// to hang up, the service's thread delivers call-state events. Prints how
// long each Event kept that thread, and how much longer the hang-up took for
// the deliveries than the same hang-up with none.
void EventsDuringAHangUp(Component& component, telsim::Service& service, const Settings& settings);

}  // namespace bench
