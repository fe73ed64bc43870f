// Lua listeners held by native objects, and the containers that hold them with cookies 1, 2, 3...
//
// All of this is used on the UI thread only.
#pragma once

#include "qv_engine.h"

#include <lauxlib.h>

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace luabind {

constexpr long kOk = 0;
constexpr long kFail = static_cast<long>(0x80004005L);  // E_FAIL

// The one listener type: a Lua function kept in the registry of the state that attached it and
// called through QVLRT_LuaCall with the context "CLuaEvent::Call", so that an error goes to the
// runtime's log and never past the caller.
class CLuaEvent {
 public:
  CLuaEvent() = default;
  ~CLuaEvent();
  CLuaEvent(const CLuaEvent&) = delete;
  CLuaEvent& operator=(const CLuaEvent&) = delete;

  // Takes a reference to the function at `index`, releasing any earlier one; false (and
  // nothing held) when it is not a function.
  bool Hold(lua_State* L, int index);
  // Lets the function go; true when one was held.
  bool Release();
  bool empty() const { return L_ == nullptr; }

  // Calls the function with what push_args pushes (it returns their count) and leaves the stack
  // as it was. The owner of this listener may be gone when Fire returns: callers touch nothing
  // of theirs afterwards.
  template <typename PushArgs>
  void Fire(PushArgs push_args) const {
    if (!L_) return;
    lua_State* L = L_;
    const int top = lua_gettop(L);
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref_);
    const int n = push_args(L);
    QVLRT_LuaCall(L, n, 0, "CLuaEvent::Call");
    lua_settop(L, top);
  }

  lua_State* state() const { return L_; }
  int ref() const { return ref_; }

 private:
  lua_State* L_ = nullptr;
  int ref_ = 0;  // LUA_NOREF-like 0 means none
};

template <typename E>
class IEventEnum {
 public:
  virtual ~IEventEnum() = default;
  virtual void Reset() = 0;
  // 0 and the next listener, or 1 and null at the end.
  virtual long Next(E** out) = 0;
};

template <typename E>
class CEventContainer : public IEventEnum<E> {
 public:
  CEventContainer() = default;
  CEventContainer(CEventContainer&& other) noexcept
      : list_(std::move(other.list_)), last_cookie_(other.last_cookie_) {}
  CEventContainer(const CEventContainer&) = delete;
  CEventContainer& operator=(const CEventContainer&) = delete;

  // Resets this container's own cursor and hands out the container itself: one enumeration at
  // a time per container.
  virtual long Clone(IEventEnum<E>** out) {
    Reset();
    if (out) *out = this;
    return kOk;
  }

  void Reset() override { cursor_cookie_ = 0; }

  // The cursor remembers the last cookie it returned, so a listener may detach itself or any
  // other listener while it is being called.
  long Next(E** out) override {
    for (auto& entry : list_) {
      if (entry.first > cursor_cookie_) {
        cursor_cookie_ = entry.first;
        if (out) *out = entry.second.get();
        return 0;
      }
    }
    cursor_cookie_ = last_cookie_;
    if (out) *out = nullptr;
    return 1;
  }

  // Adds the listener at the end with a fresh cookie (last + 1, the first is 1).
  long Attach(std::uint32_t* cookie, std::unique_ptr<E> event) {
    const std::uint32_t c = ++last_cookie_;
    list_.emplace_back(c, std::move(event));
    if (cookie) *cookie = c;
    return kOk;
  }

  // Hands out the listener with that cookie and removes it; E_FAIL when there is none.
  long Detach(std::uint32_t cookie, std::unique_ptr<E>* out) {
    for (auto it = list_.begin(); it != list_.end(); ++it) {
      if (it->first == cookie) {
        if (out) *out = std::move(it->second);
        list_.erase(it);
        return kOk;
      }
    }
    return kFail;
  }

  std::size_t Count() const { return list_.size(); }
  std::uint32_t LastCookie() const { return last_cookie_; }

 private:
  std::list<std::pair<std::uint32_t, std::unique_ptr<E>>> list_;
  std::uint32_t cursor_cookie_ = 0;
  std::uint32_t last_cookie_ = 0;
};

template <typename E>
class CMultiEventContainer {
 public:
  virtual ~CMultiEventContainer() = default;

  // E_FAIL when the name has no entry, else the entry's Clone.
  virtual long GetEventEnum(const std::wstring& name, IEventEnum<E>** out) {
    auto it = events_.find(name);
    if (it == events_.end()) {
      if (out) *out = nullptr;
      return kFail;
    }
    return it->second.Clone(out);
  }

  virtual long Reserved() { return kOk; }

  long AttachEvent(const std::wstring& name, std::unique_ptr<E> event, std::uint32_t* cookie) {
    return events_[name].Attach(cookie, std::move(event));
  }

  long DetachEvent(const std::wstring& name, std::uint32_t cookie, std::unique_ptr<E>* out) {
    auto it = events_.find(name);
    if (it == events_.end()) return kFail;
    return it->second.Detach(cookie, out);
  }

 protected:
  std::map<std::wstring, CEventContainer<E>> events_;
};

using CLuaEventContainer = CEventContainer<CLuaEvent>;
using CLuaMultiEventContainerBase = CMultiEventContainer<CLuaEvent>;

// ---- The shapes shared by every Lua method that attaches, detaches or fires --------------

// The function at func_index joins the container; pushes the cookie and returns 1, or returns 0
// (nothing attached) when that value is not a function.
int AttachLuaListener(lua_State* L, int func_index, CLuaEventContainer& container);
// Reads the cookie at cookie_index (check_int: raises unless a number) and releases that
// listener if the container has it. Returns 0 (no results).
int DetachLuaListener(lua_State* L, int cookie_index, CLuaEventContainer& container);

// The multi-container form: 0 when attached (cookie in *cookie), 1 when the value at func_index
// is not a function.
int AttachLuaListener(lua_State* L, int func_index, const std::wstring& name,
                      CLuaMultiEventContainerBase& container, std::uint32_t* cookie);

// Calls every listener in attach order with the arguments push_args pushes (it returns their
// count), each through QVLRT_LuaCall with the context "CLuaEvent::Call". A listener that raises
// does not stop the others.
template <typename PushArgs>
void FireLuaEvent(CLuaEventContainer& container, PushArgs push_args) {
  IEventEnum<CLuaEvent>* e = nullptr;
  container.Clone(&e);
  CLuaEvent* listener = nullptr;
  while (e->Next(&listener) == 0) listener->Fire(push_args);
}

}  // namespace luabind
