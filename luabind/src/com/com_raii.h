// Owners for the COM resources the dispatch bridge handles: interface references, BSTRs and
// VARIANTs. Each frees what it owns exactly once, by the COM rules.
#pragma once

#include "com_shape.h"

#include <cstddef>
#include <string>
#include <utility>

namespace luabind::com {

// One reference to an interface.
template <typename T>
class com_ptr {
 public:
  com_ptr() = default;
  // Takes a new reference.
  static com_ptr retain(T* p) {
    if (p) p->AddRef();
    return com_ptr(p);
  }
  // Takes over a reference the caller already holds.
  static com_ptr adopt(T* p) { return com_ptr(p); }

  com_ptr(const com_ptr& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  com_ptr& operator=(com_ptr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~com_ptr() { reset(); }

  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Hands the reference to the caller.
  T* detach() { return std::exchange(p_, nullptr); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  explicit com_ptr(T* p) : p_(p) {}
  T* p_ = nullptr;
};

// An owned BSTR.
class bstr {
 public:
  bstr() = default;
  // Null when the units cannot be allocated.
  explicit bstr(const std::u16string& units) {
    if (units.size() >= kMaxUnits) return;  // beyond a BSTR's 32-bit byte count
    std::basic_string<OLECHAR> copy(units.begin(), units.end());
    b_ = SysAllocStringLen(copy.data(), static_cast<UINT>(copy.size()));
  }
  bstr(const bstr&) = delete;
  bstr& operator=(const bstr&) = delete;
  bstr(bstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
  bstr& operator=(bstr&& other) noexcept {
    std::swap(b_, other.b_);
    return *this;
  }
  ~bstr() { SysFreeString(b_); }

  BSTR get() const { return b_; }
  BSTR release() { return std::exchange(b_, nullptr); }
  explicit operator bool() const { return b_ != nullptr; }

  // The units of any BSTR, null included (empty).
  static std::u16string units(BSTR b) {
    const UINT n = SysStringLen(b);
    std::u16string out(n, u'\0');
    for (UINT i = 0; i < n; ++i) out[i] = static_cast<char16_t>(b[i]);
    return out;
  }

 private:
  static constexpr std::size_t kMaxUnits = 0x7FFFFFF0u / sizeof(OLECHAR);
  BSTR b_ = nullptr;
};

// An owned VARIANT, cleared when it goes.
class variant {
 public:
  variant() { VariantInit(&v_); }
  variant(const variant&) = delete;
  variant& operator=(const variant&) = delete;
  variant(variant&& other) noexcept : variant() { std::swap(v_, other.v_); }
  variant& operator=(variant&& other) noexcept {
    std::swap(v_, other.v_);
    return *this;
  }
  ~variant() { VariantClear(&v_); }

  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARIANT* operator->() { return &v_; }
  const VARIANT* operator->() const { return &v_; }

  void clear() { VariantClear(&v_); }
  // Takes ownership of the BSTR.
  void set_bstr(bstr text) {
    clear();
    v_.vt = VT_BSTR;
    v_.bstrVal = text.release();
  }
  // Moves the value into *dest, clearing what dest held first; this variant is left empty.
  void move_to(VARIANT* dest) {
    VariantClear(dest);
    *dest = v_;
    VariantInit(&v_);
  }

 private:
  VARIANT v_;
};

}  // namespace luabind::com
