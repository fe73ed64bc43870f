// LuaDispatch: a COM automation object whose methods are Lua functions. Lua registers functions
// under names; a page holding the object's IDispatch calls those names, and every function
// registered under the name runs on the UI thread with the page's arguments.
#pragma once

#include "com/com_raii.h"
#include "luabind/lua_event.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <thread>
#include <utility>

namespace luabind::com {

// The Lua functions by name, with a record (name, cookie) of every function attached, so that
// all functions of one name can be let go together.
class CLuaMultiEventContainer : public CLuaMultiEventContainerBase {
 public:
  // Attaches the function at index under the name; its cookie in that name's container, or 0
  // (nothing attached) when the value is not a function.
  std::uint32_t Attach(lua_State* L, int index, const std::wstring& name);
  // Lets the function with that cookie go (cookie 0 matches none).
  void Detach(const std::wstring& name, std::uint32_t cookie);
  // Lets every function of the name go; the name's container stays, empty.
  void DetachAll(const std::wstring& name);

 private:
  std::list<std::pair<std::wstring, std::uint32_t>> records_;
};

class LuaDispatch final : public IDispatch {
 public:
  // The object with one reference, which the caller owns.
  static com_ptr<LuaDispatch> Create();

  // ---- Lua side (UI thread) ------------------------------------------------------------------
  std::uint32_t RegisterFunction(lua_State* L, const std::wstring& name, int func_index);
  void UnregisterFunction(const std::wstring& name, std::uint32_t cookie);

  // The DISPID this object gave the name, or DISPID_UNKNOWN.
  DISPID IdOf(const std::wstring& name) const;

  // ---- IUnknown ------------------------------------------------------------------------------
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ---- IDispatch -----------------------------------------------------------------------------
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  // The first name's DISPID; E_FAIL for a name never registered in the process.
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  // Calls the functions of the DISPID's name in registration order with the arguments in the
  // automation array's order (element 0 first); the last function's non-nil result is the
  // result. E_FAIL for an unknown DISPID, a value without a conversion or more arguments than
  // Lua's stack takes; E_INVALIDARG without a parameter block. Both IDispatch calls give
  // RPC_E_WRONG_THREAD on any thread but the one that made the object.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* arg_error) override;

 private:
  LuaDispatch();
  ~LuaDispatch();
  HRESULT call(DISPID id, DISPPARAMS* params, VARIANT* result);
  bool on_owner_thread() const { return std::this_thread::get_id() == owner_; }

  std::atomic<ULONG> refs_{0};
  // Lua lives on the thread that made the object; calls from any other thread are refused.
  const std::thread::id owner_;
  // A name keeps the DISPID it got at its first registration on this object, for good;
  // DISPIDs come from one counter for the whole process.
  std::map<std::wstring, DISPID> ids_;
  std::map<DISPID, std::wstring> names_;
  CLuaMultiEventContainer functions_;
};

}  // namespace luabind::com
