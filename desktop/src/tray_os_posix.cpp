// The notification area is not in the Linux port: no icon is shown, so the shell never sends the
// tray's window a message and no listener is called.
#include "tray_os.h"

namespace desktop::os {

void tray_add(qv::loop::window_handle, unsigned, int, const std::u16string&) {}
void tray_set_tip(qv::loop::window_handle, const std::u16string&) {}
void tray_set_icon(qv::loop::window_handle, int) {}
void tray_delete(qv::loop::window_handle) {}

}  // namespace desktop::os
