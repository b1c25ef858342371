// Everything a control class derives from, in one include.
//
// A control T derives, after its object root and dispatch bases, from
//   CComControl<T>, IPersistStreamInitImpl<T>, IOleControlImpl<T>,
//   IOleObjectImpl<T>, IOleInPlaceActiveObjectImpl<T>, IViewObjectExImpl<T>,
//   IOleInPlaceObjectWindowlessImpl<T>, CComCoClass<T, &CLSID_T> and
//   IObjectSafetyImpl<T, INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA>
// and answers them in its table (comkit/interface_table.h) as
//   Entry<IViewObjectEx>(IID_IViewObjectEx / IID_IViewObject2 / IID_IViewObject),
//   Entry<IOleInPlaceObjectWindowless>(IID_IOleInPlaceObjectWindowless /
//                                      IID_IOleInPlaceObject / IID_IOleWindow),
//   Entry<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject),
//   Entry<IOleControl>(IID_IOleControl), Entry<IOleObject>(IID_IOleObject),
//   Entry<IPersistStreamInit>(IID_IPersistStreamInit / IID_IPersist),
//   Entry<IObjectSafety>(IID_IObjectSafety).
// T needs _InternalQueryInterface (the bases query the object through it)
// and GetObjectCLSID (from CComCoClass; it names the registry entries read
// for status flags, user type and verbs).
//
// Threads: the embedding interfaces are called by the container from the
// thread that sited the control, as OLE containers do; they take no lock.
// Only the safety options and the freeze count change atomically.
#pragma once

#include "comkit/control/com_control.h"
#include "comkit/control/object_safety_impl.h"
#include "comkit/control/ole_control_impl.h"
#include "comkit/control/ole_inplace_active_object_impl.h"
#include "comkit/control/ole_inplace_object_impl.h"
#include "comkit/control/ole_object_impl.h"
#include "comkit/control/persist_stream_init_impl.h"
#include "comkit/control/view_object_ex_impl.h"
