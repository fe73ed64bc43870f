// COM automation for the dispatch bridge: the Windows SDK itself. The Linux build declares the
// same names in luabind::com (com/posix/com_shape.h); the bridge lives in that namespace and
// uses the names unqualified, so here they are simply the SDK's global ones.
#pragma once

#include <windows.h>

#include <ole2.h>
#include <oleauto.h>

namespace luabind::com {}
