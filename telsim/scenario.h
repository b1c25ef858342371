// Scenario files for TelSim.dll: the simulated world described in an INI
// file (format in the README, "The simulated telephony service"), read with the platform's profile
// API.
#pragma once

#include "telsim/recorder.h"
#include "telsim/world.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace telsim {

class Service;

struct Scenario {
    std::vector<AddressSpec> addresses;
    CallScript script;
    Delivery delivery = Delivery::Apartment;
    Hangup hangup = Hangup::AfterDelivery;
    Objects objects = Objects::Bound;
    EventThread eventThread = EventThread::ReadsOnly;
    std::vector<std::pair<std::wstring, Fault>> faults;
    HRESULT creationFailure = S_OK;    // every root object creation fails so
    std::optional<Location> location;  // [Location]: numbers are translated
};

// Two suitable lines and one that carries no data or voice; calls go in
// progress at once and are connected 1.5 s later.
Scenario DefaultScenario();

// Reads the scenario file at path. On failure returns a failing HRESULT and
// sets error to a one-line description naming the section and key.
HRESULT ReadScenario(const std::wstring& path, Scenario& scenario, std::wstring& error);

// The scenario file to serve: the environment variable
// BREVLIN_TELSIM_SCENARIO, else the value "Scenario" of
// HKEY_CURRENT_USER\Software\Brevlin\TelSim; empty when neither is set.
std::wstring ScenarioPath();

void ApplyScenario(const Scenario& scenario, Service& service);

}  // namespace telsim
