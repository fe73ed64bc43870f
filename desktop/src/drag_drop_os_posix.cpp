// Drag and drop is not in the Linux port: no window takes drops, so no listener is called.
#include "drag_drop_os.h"

namespace desktop::os {

void set_drop_handler(drop_handler*) {}
bool register_drop_target(qv::loop::window_handle) { return false; }
void revoke_drop_target(qv::loop::window_handle) {}
void* drop_target_interface() { return nullptr; }
qv::loop::window_handle window_from_point(int, int) { return nullptr; }
bool screen_to_client(qv::loop::window_handle, int&, int&) { return false; }

}  // namespace desktop::os
