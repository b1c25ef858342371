// The module's table of creatable classes, served by CClassFactory.
//
//   comkit::ClassEntry g_classes[] = {
//       {&CLSID_X, &CX::CreateInstance, IDR_X_REGISTRY},
//   };
//   comkit::ClassTable g_table(g_classes);
//
// Each entry's class object is created on first request (under the module's
// class-object lock, so only one is ever made) and kept, with one reference
// of its own, until ReleaseClassObjects.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <cstddef>

#include "comkit/class_factory.h"

namespace comkit {

struct ClassEntry {
    const CLSID* clsid;
    CreatorFunc create;
    UINT registryScriptId;  // resource of type "REGISTRY"
    std::atomic<IClassFactory*> classObject{nullptr};
};

class ClassTable {
public:
    template <size_t N>
    explicit ClassTable(ClassEntry (&entries)[N]) noexcept : m_begin(entries), m_end(entries + N) {}

    // CLASS_E_CLASSNOTAVAILABLE for a class not in the table; *ppv is null on
    // every failure.
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept;
    // At detach: releases the kept class objects.
    void ReleaseClassObjects() noexcept;

    // Runs each class's registry script from module's resources with
    // %MODULE% set to module's path, then registers the type library that
    // the module carries. S_OK or the first failure.
    HRESULT RegisterServer(HMODULE module) noexcept;
    // Each script in removal mode, then the type library unregistered. A
    // class that the module of the other width still serves (its key in the
    // other registry view) loses only its own view's key: the ProgIDs are
    // shared by both views and stay for it.
    HRESULT UnregisterServer(HMODULE module) noexcept;

private:
    ClassEntry* m_begin;
    ClassEntry* m_end;
};

}  // namespace comkit
