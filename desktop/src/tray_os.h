// The operating-system side of "Tray.Manager": the notification-area icon of a window (icon id
// 0). Each gives the shell's answer (false where there is no notification area); the Lua methods
// do not report it.
#pragma once

#include "qv/message_loop.h"

#include <string>

namespace desktop::os {

// Adds the icon with the callback message, the executable's icon resource and the tip.
bool tray_add(qv::loop::window_handle window, unsigned callback_message, int icon_resource,
              const std::u16string& tip);
bool tray_set_tip(qv::loop::window_handle window, const std::u16string& tip);
bool tray_set_icon(qv::loop::window_handle window, int icon_resource);
bool tray_delete(qv::loop::window_handle window);

}  // namespace desktop::os
