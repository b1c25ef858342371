// Brevlin.dll's entry points and its class table.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include "brevlin_idl.h"
#include "comkit/class_table.h"
#include "comkit/module.h"
#include "dialer/tapi_dialer.h"
#include "resources/resource_ids.h"

namespace {

comkit::ClassEntry g_classes[] = {
    {&CLSID_TAPIDialer, &CTAPIDialer::CreateInstance, IDR_TAPIDIALER},
};
comkit::ClassTable g_classTable(g_classes);

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        comkit::Module& module = comkit::GetModule();
        module.SetResourceInstance(instance);
        module.SetLibId(LIBID_BREVLINLib);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        g_classTable.ReleaseClassObjects();
        comkit::GetModule().Term();
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() {
    return comkit::GetModule().GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return g_classTable.GetClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer() {
    return g_classTable.RegisterServer(comkit::GetModule().GetResourceInstance());
}

STDAPI DllUnregisterServer() {
    return g_classTable.UnregisterServer(comkit::GetModule().GetResourceInstance());
}
