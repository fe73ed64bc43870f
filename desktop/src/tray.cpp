// "Tray.Manager": the notification-area icon on a hidden window of its own, whose mouse and
// keyboard messages go to every attached Lua listener.
#include "desktop/shell_data.h"
#include "desktop/shell_objects.h"

#include "luabind/args.h"
#include "luabind/lua_event.h"
#include "luabind/registration.h"
#include "tray_os.h"

#include "qv/text.h"

#include <memory>
#include <new>

namespace desktop {
namespace {

constexpr char kClassName[] = "Tray.Manager.Class";
constexpr char16_t kDefaultTip[] = u"Tivorel";

class CLuaNotifyTray {
 public:
  CLuaNotifyTray() {
    qv::loop::window_spec spec;
    spec.title = L"LuaNotifyTray";
    spec.class_name = L"LuaNotifyTray";
    spec.desktop_parent = true;  // a WS_POPUP window, as the default style is
    window_ = qv::loop::create_window(spec, &CLuaNotifyTray::WindowProc, this);
  }
  ~CLuaNotifyTray() {
    if (!window_) return;
    os::tray_delete(window_);
    qv::loop::destroy_window(window_);
  }
  CLuaNotifyTray(const CLuaNotifyTray&) = delete;
  CLuaNotifyTray& operator=(const CLuaNotifyTray&) = delete;

  qv::loop::window_handle window() const { return window_; }
  luabind::CLuaEventContainer& listeners() { return listeners_; }

 private:
  static qv::loop::lresult_t WindowProc(void* user, qv::loop::window_handle w, unsigned msg,
                                        qv::loop::wparam_t wp, qv::loop::lparam_t lp) {
    if (msg == kTrayMessage) {
      auto* self = static_cast<CLuaNotifyTray*>(user);
      luabind::FireLuaEvent(self->listeners_, [wp, lp](lua_State* L) {
        lua_pushnumber(L, static_cast<lua_Number>(wp));
        lua_pushnumber(L, static_cast<lua_Number>(lp));
        return 2;
      });
      return 0;
    }
    return qv::loop::default_window_proc(w, msg, wp, lp);
  }

  qv::loop::window_handle window_ = nullptr;
  luabind::CLuaEventContainer listeners_;
};

// Shutdown deletes the object; without a shutdown (tests) it is left to the end of the process,
// whose static destruction may already have taken the loop and the Lua state it would touch.
struct Holder {
  CLuaNotifyTray* object = nullptr;
  bool released = false;
};
Holder& holder() {
  static Holder h;
  return h;
}

CLuaNotifyTray* self(lua_State* L) { return luabind::check_object<CLuaNotifyTray>(L, kClassName); }

int CreateNotifyTray(lua_State* L) {
  if (CLuaNotifyTray* tray = self(L))
    os::tray_add(tray->window(), kTrayMessage, kTrayIconResource, kDefaultTip);
  return 0;
}

int ModifyTrayTips(lua_State* L) {
  CLuaNotifyTray* tray = self(L);
  const std::string text = luabind::check_string(L, 2);
  if (tray) os::tray_set_tip(tray->window(), TrayTip(qv::text::utf8_to_utf16(text)));
  return 0;
}

int ModifyTrayIcon(lua_State* L) {
  CLuaNotifyTray* tray = self(L);
  const int id = luabind::check_int<int>(L, 2);
  if (tray) os::tray_set_icon(tray->window(), id);
  return 0;
}

int DeleteNotifyTray(lua_State* L) {
  if (CLuaNotifyTray* tray = self(L)) os::tray_delete(tray->window());
  return 0;
}

int AttachEvent(lua_State* L) {
  CLuaNotifyTray* tray = self(L);
  return tray ? luabind::AttachLuaListener(L, 2, tray->listeners()) : 0;
}

int DetachEvent(lua_State* L) {
  CLuaNotifyTray* tray = self(L);
  return tray ? luabind::DetachLuaListener(L, 2, tray->listeners()) : 0;
}

const QVLRT_METHOD kMethods[] = {
    {"CreateNotifyTray", CreateNotifyTray, 0},
    {"ModifyTrayTips", ModifyTrayTips, 0},
    {"ModifyTrayIcon", ModifyTrayIcon, 0},
    {"DeleteNotifyTray", DeleteNotifyTray, 0},
    {"AttachEvent", AttachEvent, 0},
    {"DetachEvent", DetachEvent, 0},
    {nullptr, nullptr, 0},
};

void* Factory(std::uintptr_t) {
  Holder& h = holder();
  if (!h.object && !h.released) h.object = new (std::nothrow) CLuaNotifyTray();
  return h.object;
}

}  // namespace

void RegisterTray(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, "Tray.Manager", kClassName, kMethods, Factory);
}

qv::loop::window_handle TrayWindow() {
  const Holder& h = holder();
  return h.object ? h.object->window() : nullptr;
}

void ReleaseTray() {
  Holder& h = holder();
  h.released = true;
  delete h.object;
  h.object = nullptr;
}

}  // namespace desktop
