// The standard host plus "Page.Object", a page script's side of IDispatch for Lua host tests:
//   Page.Object:Call(dispatch, name, arguments...) -> hr (8 hex digits), result or nil
//   Page.Object:Id(dispatch, name)                 -> hr, DISPID
// Like a script engine, Call puts the arguments into the automation array last first; a Lua
// number becomes VT_I4 when it is a 32-bit integer (VT_R8 otherwise), a string VT_BSTR, a
// boolean VT_BOOL, a table an object (VT_DISPATCH, the dispatch itself) and nil VT_EMPTY.
#include "app/startup.h"
#include "com_raii.h"
#include "luabind/args.h"
#include "luabind/registration.h"
#include "qv/text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

using namespace luabind::com;

constexpr const char* kPageClass = "Page.Object.Class";

struct page {};

void push_hr(lua_State* L, HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(hr));
  lua_pushstring(L, text);
}

IDispatch* dispatch_arg(lua_State* L) {
  if (!luabind::check_object<page>(L, kPageClass)) return nullptr;
  luaL_checktype(L, 2, LUA_TLIGHTUSERDATA);
  return static_cast<IDispatch*>(lua_touserdata(L, 2));
}

HRESULT lookup(IDispatch* d, const std::string& name, DISPID* id) {
  const std::u16string u = qv::text::utf8_to_utf16(name);
  std::basic_string<OLECHAR> units(u.begin(), u.end());
  LPOLESTR names[] = {&units[0]};
  return d->GetIDsOfNames(IID_NULL, names, 1, 1024, id);
}

int Id(lua_State* L) {
  IDispatch* d = dispatch_arg(L);
  if (!d) return 0;
  DISPID id = DISPID_UNKNOWN;
  push_hr(L, lookup(d, luabind::check_string(L, 3), &id));
  lua_pushnumber(L, id);
  return 2;
}

variant to_variant(lua_State* L, int index, IDispatch* d) {
  variant v;
  switch (lua_type(L, index)) {
    case LUA_TNUMBER: {
      const double n = lua_tonumber(L, index);
      if (n == std::floor(n) && n >= -2147483648.0 && n <= 2147483647.0) {
        v->vt = VT_I4;
        v->lVal = static_cast<std::int32_t>(n);
      } else {
        v->vt = VT_R8;
        v->dblVal = n;
      }
      break;
    }
    case LUA_TSTRING:
      v.set_bstr(bstr(qv::text::utf8_to_utf16(luabind::check_string(L, index))));
      break;
    case LUA_TBOOLEAN:
      v->vt = VT_BOOL;
      v->boolVal = lua_toboolean(L, index) ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case LUA_TTABLE:
      v->vt = VT_DISPATCH;
      v->pdispVal = com_ptr<IDispatch>::retain(d).detach();
      break;
    default:
      break;  // VT_EMPTY
  }
  return v;
}

void push_result(lua_State* L, const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: lua_pushnil(L); break;
    case VT_R8: lua_pushnumber(L, v.dblVal); break;
    case VT_BOOL: lua_pushboolean(L, v.boolVal != 0); break;
    case VT_BSTR: luabind::push_string(L, qv::text::utf16_to_utf8(bstr::units(v.bstrVal))); break;
    default: lua_pushfstring(L, "vt %d", static_cast<int>(v.vt)); break;
  }
}

int Call(lua_State* L) {
  IDispatch* d = dispatch_arg(L);
  if (!d) return 0;
  const com_ptr<IDispatch> hold = com_ptr<IDispatch>::retain(d);  // as a script holds its object
  DISPID id = DISPID_UNKNOWN;
  const HRESULT found = lookup(d, luabind::check_string(L, 3), &id);
  if (FAILED(found)) {
    push_hr(L, found);
    return 1;
  }
  std::vector<variant> args;
  for (int i = lua_gettop(L); i >= 4; --i) args.push_back(to_variant(L, i, d));
  std::vector<VARIANT> raw;
  for (variant& v : args) raw.push_back(*v.get());  // shallow: args keeps ownership
  DISPPARAMS params{raw.empty() ? nullptr : raw.data(), nullptr, static_cast<UINT>(raw.size()), 0};
  variant result;
  push_hr(L, d->Invoke(id, IID_NULL, 1024, DISPATCH_METHOD, &params, result.get(), nullptr,
                       nullptr));
  push_result(L, *result.get());
  return 2;
}

const QVLRT_METHOD kPageMethods[] = {{"Call", Call, 0}, {"Id", Id, 0}, {nullptr, nullptr, 0}};

void* page_factory(std::uintptr_t) {
  static page p;
  return &p;
}

void register_page(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, "Page.Object", kPageClass, kPageMethods, page_factory);
}

}  // namespace

int main() {
  app::HostHooks hooks;
  hooks.extra_registration = register_page;
  return app::HostMain(hooks);
}
