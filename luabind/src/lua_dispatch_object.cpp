#include "lua_dispatch_object.h"

#include "com/variant_lua.h"
#include "qv/text.h"

#include <new>
#include <vector>

namespace luabind::com {

// ---- CLuaMultiEventContainer -----------------------------------------------------------------

std::uint32_t CLuaMultiEventContainer::Attach(lua_State* L, int index, const std::wstring& name) {
  std::uint32_t cookie = 0;
  if (AttachLuaListener(L, index, name, *this, &cookie) != 0) return 0;
  records_.emplace_back(name, cookie);
  return cookie;
}

void CLuaMultiEventContainer::Detach(const std::wstring& name, std::uint32_t cookie) {
  if (cookie == 0) return;
  std::unique_ptr<CLuaEvent> gone;
  DetachEvent(name, cookie, &gone);  // released here, if it was there
  records_.remove(std::make_pair(name, cookie));
}

void CLuaMultiEventContainer::DetachAll(const std::wstring& name) {
  for (auto it = records_.begin(); it != records_.end();) {
    if (it->first == name) {
      std::unique_ptr<CLuaEvent> gone;
      DetachEvent(name, it->second, &gone);
      it = records_.erase(it);
    } else {
      ++it;
    }
  }
}

// ---- LuaDispatch -----------------------------------------------------------------------------

namespace {

// The next DISPID of the process; the first name registered anywhere gets 10. Only the UI
// thread registers names. Unsigned, so that even four billion names cannot overflow it.
std::uint32_t& next_dispid() {
  static std::uint32_t next = 10;
  return next;
}

constexpr UINT kMaxArguments = 100000;  // far above Lua's stack limit; keeps the int in range

std::wstring name_of(const OLECHAR* units) {
  std::u16string u;
  for (; *units; ++units) u.push_back(static_cast<char16_t>(*units));
  return qv::text::utf16_to_wide(u);
}

}  // namespace

LuaDispatch::LuaDispatch() : owner_(std::this_thread::get_id()) {}

LuaDispatch::~LuaDispatch() = default;  // the functions are let go with their container

com_ptr<LuaDispatch> LuaDispatch::Create() {
  return com_ptr<LuaDispatch>::retain(new (std::nothrow) LuaDispatch);
}

std::uint32_t LuaDispatch::RegisterFunction(lua_State* L, const std::wstring& name,
                                            int func_index) {
  const std::uint32_t cookie = functions_.Attach(L, func_index, name);
  if (ids_.find(name) == ids_.end()) {
    const auto id = static_cast<DISPID>(next_dispid()++);
    ids_.emplace(name, id);
    names_.emplace(id, name);
  }
  return cookie;
}

void LuaDispatch::UnregisterFunction(const std::wstring& name, std::uint32_t cookie) {
  if (cookie != 0) functions_.Detach(name, cookie);
  else functions_.DetachAll(name);
}

DISPID LuaDispatch::IdOf(const std::wstring& name) const {
  auto it = ids_.find(name);
  return it == ids_.end() ? DISPID_UNKNOWN : it->second;
}

HRESULT STDMETHODCALLTYPE LuaDispatch::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE LuaDispatch::AddRef() { return ++refs_; }

ULONG STDMETHODCALLTYPE LuaDispatch::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE LuaDispatch::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE LuaDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE LuaDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                                     DISPID* ids) {
  if (!on_owner_thread()) return RPC_E_WRONG_THREAD;
  if (!names || !ids || count == 0) return E_INVALIDARG;
  // Names after the first would be named arguments, which calls do not use.
  for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  ids[0] = DISPID_UNKNOWN;
  if (!names[0]) return E_FAIL;
  try {
    ids[0] = IdOf(name_of(names[0]));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return ids[0] == DISPID_UNKNOWN ? E_FAIL : S_OK;
}

HRESULT STDMETHODCALLTYPE LuaDispatch::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                              VARIANT* result, EXCEPINFO*, UINT*) {
  try {
    return call(id, params, result);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;  // nothing may leave a COM method as an exception
  }
}

HRESULT LuaDispatch::call(DISPID id, DISPPARAMS* params, VARIANT* result) {
  // Lua belongs to the UI thread; a caller elsewhere must come through marshalling.
  if (!on_owner_thread()) return RPC_E_WRONG_THREAD;
  auto found = names_.find(id);
  if (found == names_.end()) return E_FAIL;
  if (!params || (params->cArgs > 0 && !params->rgvarg)) return E_INVALIDARG;
  // A function may let the Lua object go, and the garbage collector with it the last reference
  // but the caller's: stay alive until the call is over.
  const com_ptr<LuaDispatch> self = com_ptr<LuaDispatch>::retain(this);

  IEventEnum<CLuaEvent>* functions = nullptr;
  if (functions_.GetEventEnum(found->second, &functions) != kOk) return S_OK;

  // The arguments in the automation array's order: the page's last argument comes first.
  std::vector<lua_arg> args;
  bool converted = false;
  variant held;
  bool have_result = false;
  CLuaEvent* function = nullptr;
  while (functions->Next(&function) == 0) {
    lua_State* L = function->state();
    const int top = lua_gettop(L);
    // The page decides how many arguments come; Lua's stack grows only on request, and only
    // to its own limit (a few thousand values).
    if (params->cArgs > kMaxArguments || !lua_checkstack(L, static_cast<int>(params->cArgs) + 2))
      return E_FAIL;
    if (!converted) {
      args.resize(params->cArgs);
      for (UINT i = 0; i < params->cArgs; ++i)
        if (!VariantToLua(params->rgvarg[i], &args[i])) return E_FAIL;
      converted = true;
    }
    lua_rawgeti(L, LUA_REGISTRYINDEX, function->ref());
    for (const lua_arg& a : args) PushLuaArg(L, a);
    QVLRT_LuaCall(L, static_cast<int>(args.size()), 1, "CLuaEvent::Call");  // an error gives nil
    bool failed = false;
    if (result && !lua_isnil(L, -1)) {
      variant value;
      if (LuaToVariant(L, -1, &value)) {
        held = std::move(value);
        have_result = true;
      } else {
        failed = true;
      }
    }
    lua_settop(L, top);
    if (failed) return E_FAIL;
  }
  if (result && have_result) held.move_to(result);
  return S_OK;
}

}  // namespace luabind::com
