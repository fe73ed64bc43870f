// The operating-system side of "Tray.Manager": the notification-area icon of a window (icon id
// 0). The shell's answers are not reported: the callers ignore them.
#pragma once

#include "qv/message_loop.h"

#include <string>

namespace desktop::os {

// Adds the icon with the callback message, the executable's icon resource and the tip.
void tray_add(qv::loop::window_handle window, unsigned callback_message, int icon_resource,
              const std::u16string& tip);
void tray_set_tip(qv::loop::window_handle window, const std::u16string& tip);
void tray_set_icon(qv::loop::window_handle window, int icon_resource);
void tray_delete(qv::loop::window_handle window);

}  // namespace desktop::os
