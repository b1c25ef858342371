// How soon the dialer drops an agile call after the service reports its end.
#pragma once

#include "harness.h"
#include "telsim/telsim.h"

namespace bench {

// The host's thread does nothing but read Connected, as a script's
// `Do While d.Connected` loop does, while the service reports the end of the
// dialer's connected call, an agile one, on its notification thread. Prints
// how long after that report the call's Disconnect returned, against how
// long the host took to read Connected false, and how long each Event kept
// the service's thread meanwhile.
void DropAfterAnEnd(Component& component, telsim::Service& service, const Settings& settings);

}  // namespace bench
