// "Qorvan.UIEngine.DragDropShell": files, text and links dragged onto the UI's windows become
// calls of the Lua listener registered for the window under the cursor (one per window).
#include "desktop/shell_objects.h"

#include "desktop/icon_imager.h"

#include "drag_drop_shell.h"
#include "luabind/args.h"
#include "luabind/registration.h"
#include "shell_release.h"

#include "qv/text.h"

#include <memory>
#include <new>

namespace desktop {

CLuaDragDropShell::~CLuaDragDropShell() {
  for (auto& entry : windows_) queries_.revoke_target(entry.first);
}

void CLuaDragDropShell::Register(lua_State* L, qv::loop::window_handle window,
                                 int listener_index) {
  windows_.erase(window);
  if (!queries_.register_target(window)) return;
  auto listener = std::make_unique<luabind::CLuaEvent>();
  if (listener->Hold(L, listener_index)) windows_[window] = std::move(listener);
}

void CLuaDragDropShell::Revoke(qv::loop::window_handle window) {
  windows_.erase(window);
  queries_.revoke_target(window);
}

void CLuaDragDropShell::OnDragEnter(std::uint16_t format, const os::drag_items& items, int x,
                                    int y) {
  Call("OnDropEnter", format, items, x, y, nullptr);
}

std::uint32_t CLuaDragDropShell::OnDragOver(std::uint16_t format, const os::drag_items& items,
                                            int x, int y, std::uint32_t current) {
  std::uint32_t effect = current;
  Call("OnDragOver", format, items, x, y, &effect);
  return effect;
}

void CLuaDragDropShell::OnDrop(std::uint16_t format, const os::drag_items& items, int x, int y) {
  Call("OnDrop", format, items, x, y, nullptr);
}

void CLuaDragDropShell::OnDragLeave() {
  // A listener may revoke windows while it runs: walk a copy of the handles.
  std::vector<qv::loop::window_handle> handles;
  for (const auto& entry : windows_) handles.push_back(entry.first);
  for (qv::loop::window_handle w : handles) {
    auto it = windows_.find(w);
    if (it == windows_.end()) continue;
    it->second->Fire([](lua_State* L) {
      lua_createtable(L, 0, 1);
      luabind::set_field(L, "type", "OnDragLeave");
      return 1;
    });
  }
}

// Calls the listener of the registered window under the point; with effect, its integer result
// becomes the effect.
void CLuaDragDropShell::Call(const char* type, std::uint16_t format, const os::drag_items& items,
                             int x, int y, std::uint32_t* effect) {
  qv::loop::window_handle w = queries_.window_from_point(x, y);
  auto it = windows_.find(w);
  if (!w || it == windows_.end()) return;
  if (!queries_.screen_to_client(w, x, y)) return;
  lua_State* L = it->second->state();
  if (!L) return;
  const int top = lua_gettop(L);
  lua_rawgeti(L, LUA_REGISTRYINDEX, it->second->ref());
  lua_createtable(L, static_cast<int>(items.size()), 4);
  for (std::size_t i = 0; i < items.size(); ++i) {
    luabind::push_string(L, qv::text::utf16_to_utf8(items[i]));
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
  luabind::set_field(L, "cfFormat", static_cast<int>(format));
  luabind::set_field(L, "x", x);
  luabind::set_field(L, "y", y);
  luabind::set_field(L, "type", type);
  // The listener may revoke its own window: nothing of the entry is used after the call.
  QVLRT_LuaCall(L, 1, 1, "CLuaEvent::Call");
  if (effect) *effect = luabind::opt_int<std::uint32_t>(L, -1, 0);
  lua_settop(L, top);
}

namespace {

constexpr char kClassName[] = "Qorvan.UIEngine.DragDropShell.Class";

struct Holder {
  CLuaDragDropShell* object = nullptr;
  bool released = false;
};
Holder& holder() {
  static Holder h;
  return h;
}

CLuaDragDropShell* self(lua_State* L) {
  return luabind::check_object<CLuaDragDropShell>(L, kClassName);
}

// The window arrives as light userdata holding its handle.
qv::loop::window_handle window_arg(lua_State* L, int index) {
  return static_cast<qv::loop::window_handle>(lua_touserdata(L, index));
}

// The listener is the last argument; a call without a function or a window changes nothing.
int RegisterDragDrop(lua_State* L) {
  CLuaDragDropShell* shell = self(L);
  const int last = lua_gettop(L);
  qv::loop::window_handle window = window_arg(L, 2);
  if (!shell || !window || last < 3 || !lua_isfunction(L, last)) return 0;
  shell->Register(L, window, last);
  return 0;
}

int RevokeDragDrop(lua_State* L) {
  CLuaDragDropShell* shell = self(L);
  qv::loop::window_handle window = window_arg(L, 2);
  if (shell && window) shell->Revoke(window);
  return 0;
}

const QVLRT_METHOD kMethods[] = {
    {"RegisterDragDrop", RegisterDragDrop, 0},
    {"RevokeDragDrop", RevokeDragDrop, 0},
    {nullptr, nullptr, 0},
};

void* Factory(std::uintptr_t) {
  Holder& h = holder();
  if (!h.object && !h.released) {
    h.object = new (std::nothrow) CLuaDragDropShell();
    os::set_drop_handler(h.object);
  }
  return h.object;
}

}  // namespace

void RegisterDragDropShell(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, "Qorvan.UIEngine.DragDropShell", kClassName, kMethods, Factory);
}

void* DropTargetInterface() { return os::drop_target_interface(); }

void ReleaseDragDropShell() {
  Holder& h = holder();
  h.released = true;
  os::set_drop_handler(nullptr);
  delete h.object;
  h.object = nullptr;
}

void ReleaseShellObjects() {
  ReleaseDragDropShell();
  ReleaseTray();
  ReleaseIconManager();
}

}  // namespace desktop
