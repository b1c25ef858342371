// Everything a control class derives from, in one include.
#pragma once

#include "comkit/control/com_control.h"
#include "comkit/control/object_safety_impl.h"
#include "comkit/control/ole_control_impl.h"
#include "comkit/control/ole_inplace_active_object_impl.h"
#include "comkit/control/ole_inplace_object_impl.h"
#include "comkit/control/ole_object_impl.h"
#include "comkit/control/persist_stream_init_impl.h"
#include "comkit/control/view_object_ex_impl.h"
