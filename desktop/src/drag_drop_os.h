// The operating-system side of "Qorvan.UIEngine.DragDropShell": one process-wide drop target
// that gathers what is dragged and reports it to a handler, window registration and the window
// and coordinate queries the shell needs.
#pragma once

#include "qv/message_loop.h"

#include <cstdint>
#include <string>
#include <vector>

namespace desktop::os {

using drag_items = std::vector<std::u16string>;

// What the drop target reports; points are in screen coordinates.
class drop_handler {
 public:
  virtual ~drop_handler() = default;
  virtual void OnDragEnter(std::uint16_t format, const drag_items& items, int x, int y) = 0;
  // The drop effect to show now; current is the one shown so far.
  virtual std::uint32_t OnDragOver(std::uint16_t format, const drag_items& items, int x, int y,
                                   std::uint32_t current) = 0;
  virtual void OnDrop(std::uint16_t format, const drag_items& items, int x, int y) = 0;
  virtual void OnDragLeave() = 0;
};

// The handler the drop target reports to (null: none).
void set_drop_handler(drop_handler* handler);
// Makes the drop target the window's (a registration made before is revoked and made again);
// false when the window cannot take drops.
bool register_drop_target(qv::loop::window_handle window);
void revoke_drop_target(qv::loop::window_handle window);
// The drop target's system interface, null where there is none.
void* drop_target_interface();

qv::loop::window_handle window_from_point(int x, int y);
// Screen to client coordinates of the window; false when it cannot be done.
bool screen_to_client(qv::loop::window_handle window, int& x, int& y);

}  // namespace desktop::os
