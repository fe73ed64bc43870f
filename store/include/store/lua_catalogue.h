// The Lua global objects "HttpRequest.Manager", "DataReport.Manager" and
// "AsyncGetURLLocate.Manager", each made when Lua first reads its name.
#pragma once

#include "qv_engine.h"

namespace store {

void RegisterHttpRequest(QVLRT_ENV env);
void RegisterDataReport(QVLRT_ENV env);
void RegisterAsyncGetURLLocate(QVLRT_ENV env);

// Destroys the three objects (the resolver's worker stops, open requests close, Lua functions
// are released) while the message window and the Lua state still exist; later reads give nothing.
void release_catalogue_objects();

}  // namespace store
