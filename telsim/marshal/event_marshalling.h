// Marshalling for ITTAPIEventNotification, which Windows' telephony service
// registers and Wine lacks: a type library (event_marshal.idl, embedded as
// TYPELIB 2 in TelSim.dll and in every program linking the telsim library)
// that the automation marshaler reads. Without it a sink advised from a
// single-threaded apartment cannot be reached from the notification thread.
#pragma once

#include <windows.h>

#include <string>

namespace telsim {

// The registration names the type library inside `modulePath`. It is
// written only where no Interface key exists for ITTAPIEventNotification
// (a real telephony service's is never touched); a key TelSim wrote is
// pointed at modulePath. S_FALSE: another registration is there, left
// alone.
HRESULT RegisterEventMarshalling(const std::wstring& modulePath);
// Removes the registration if, and only if, TelSim wrote it (S_FALSE
// otherwise).
HRESULT UnregisterEventMarshalling();
// For a program serving the library in-process: registers for the module
// that holds this code when nothing usable is registered yet.
HRESULT EnsureEventMarshalling();

}  // namespace telsim
