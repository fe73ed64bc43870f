// The drag and drop shell's listener table: one Lua listener per window, called for the
// registered window under the cursor. The window queries are the system's unless a test gives
// its own.
#pragma once

#include "drag_drop_os.h"
#include "luabind/lua_event.h"

#include <map>
#include <memory>

namespace desktop {

struct DropWindowQueries {
  bool (*register_target)(qv::loop::window_handle);
  void (*revoke_target)(qv::loop::window_handle);
  qv::loop::window_handle (*window_from_point)(int x, int y);
  bool (*screen_to_client)(qv::loop::window_handle, int& x, int& y);

  static DropWindowQueries System() {
    return {os::register_drop_target, os::revoke_drop_target, os::window_from_point,
            os::screen_to_client};
  }
};

class CLuaDragDropShell : public os::drop_handler {
 public:
  explicit CLuaDragDropShell(DropWindowQueries queries = DropWindowQueries::System())
      : queries_(queries) {}
  ~CLuaDragDropShell() override;
  CLuaDragDropShell(const CLuaDragDropShell&) = delete;
  CLuaDragDropShell& operator=(const CLuaDragDropShell&) = delete;

  // The function at listener_index replaces the window's listener; nothing is kept for a window
  // that cannot take drops.
  void Register(lua_State* L, qv::loop::window_handle window, int listener_index);
  // Releases the window's listener and revokes its registration.
  void Revoke(qv::loop::window_handle window);

  void OnDragEnter(std::uint16_t format, const os::drag_items& items, int x, int y) override;
  std::uint32_t OnDragOver(std::uint16_t format, const os::drag_items& items, int x, int y,
                           std::uint32_t current) override;
  void OnDrop(std::uint16_t format, const os::drag_items& items, int x, int y) override;
  void OnDragLeave() override;

 private:
  void Call(const char* type, std::uint16_t format, const os::drag_items& items, int x, int y,
            std::uint32_t* effect);

  DropWindowQueries queries_;
  std::map<qv::loop::window_handle, std::unique_ptr<luabind::CLuaEvent>> windows_;
};

}  // namespace desktop
