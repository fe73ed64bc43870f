// "IconManager.Manager": the shell icon of a path as an engine bitmap, cached so that every file
// of one type shares one bitmap. Nothing is cached for a path that gave no icon, so the next
// request tries again.
#include "desktop/icon_imager.h"

#include "icon_os.h"
#include "luabind/args.h"
#include "luabind/registration.h"

#include "qv/singleton_ex.h"

#include <map>
#include <new>

namespace desktop {
namespace {

constexpr char kClassName[] = "IconManager.Manager.Class";

class CLuaIconManager {
 public:
  CLuaIconManager() = default;
  CLuaIconManager(const CLuaIconManager&) = delete;
  CLuaIconManager& operator=(const CLuaIconManager&) = delete;
  ~CLuaIconManager() { Clear(); }

  // The bitmap for the path with a reference of the caller's own; null when none can be made.
  QV_BITMAP Get(const std::wstring& path, bool large) {
    const std::wstring key = IconCacheKey(path, large);
    auto hit = cache_.find(key);
    if (hit != cache_.end()) return hit->second;
    auto* creator = qv::design_pattern::singleton_ex<CIconImagerCreator>::instance();
    if (!creator) return nullptr;
    std::unique_ptr<IconSource> icon = os::shell_icon(path, large);
    if (!icon) return nullptr;
    QV_BITMAP bitmap = creator->Render(*icon);
    if (!bitmap) return nullptr;
    QV_BITMAP& slot = cache_[key];
    if (slot) QV_ReleaseBitmap(slot);
    slot = bitmap;  // the cache keeps the reference the bitmap was made with
    return bitmap;
  }

  void Clear() {
    for (auto& entry : cache_) QV_ReleaseBitmap(entry.second);
    cache_.clear();
  }

 private:
  std::map<std::wstring, QV_BITMAP> cache_;
};

// Shutdown deletes the object; without a shutdown (tests) it is left to the end of the process,
// whose static destruction may already have taken the loop and the Lua state it would touch.
struct Holder {
  CLuaIconManager* object = nullptr;
  bool released = false;
};
Holder& holder() {
  static Holder h;
  return h;
}

int GetIconByPath(lua_State* L) {
  auto* self = luabind::check_object<CLuaIconManager>(L, kClassName);
  const std::wstring path = luabind::check_wstring(L, 2);
  const bool large = luabind::opt_bool(L, 3, false);
  QV_BITMAP bitmap = self ? self->Get(path, large) : nullptr;
  // Pushing adds the reference the Lua object releases when it is collected.
  if (!bitmap || QV_PushBitmap(L, bitmap) != 0) lua_pushnil(L);
  return 1;
}

const QVLRT_METHOD kMethods[] = {
    {"GetIconByPath", GetIconByPath, 0},
    {nullptr, nullptr, 0},
};

void* Factory(std::uintptr_t) {
  Holder& h = holder();
  if (!h.object && !h.released) h.object = new (std::nothrow) CLuaIconManager();
  return h.object;
}

}  // namespace

void RegisterIconManager(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, "IconManager.Manager", kClassName, kMethods, Factory);
}

void ReleaseIconManager() {
  Holder& h = holder();
  h.released = true;
  delete h.object;
  h.object = nullptr;
}

}  // namespace desktop
