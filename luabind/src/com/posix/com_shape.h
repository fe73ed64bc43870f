// The part of COM automation the dispatch bridge uses, declared with the Windows SDK's names and
// shapes so that one bridge source serves both targets. On Windows the real declarations take
// this header's place (com/win32/com_shape.h).
//
// BSTR keeps the Windows layout: a 32-bit byte count in front of the UTF-16 units and a 0 unit
// behind them, the pointer aimed at the first unit; it is allocated by SysAllocStringLen and
// freed by SysFreeString only. VariantChangeType converts to VT_R8 only, which is all the bridge
// asks of it; other targets give DISP_E_TYPEMISMATCH.
#pragma once

#include <cstdint>
#include <cstring>

#define STDMETHODCALLTYPE

namespace luabind::com {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using INT = int;
using WORD = std::uint16_t;
using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using BYTE = std::uint8_t;
using CHAR = char;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using FLOAT = float;
using DOUBLE = double;
using DISPID = std::int32_t;
using LCID = std::uint32_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using BSTR = OLECHAR*;

constexpr HRESULT make_hresult(std::uint32_t bits) { return static_cast<HRESULT>(bits); }
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOTIMPL = make_hresult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = make_hresult(0x80004002u);
constexpr HRESULT E_POINTER = make_hresult(0x80004003u);
constexpr HRESULT E_FAIL = make_hresult(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = make_hresult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = make_hresult(0x80070057u);
constexpr HRESULT DISP_E_TYPEMISMATCH = make_hresult(0x80020005u);
constexpr HRESULT DISP_E_BADVARTYPE = make_hresult(0x80020008u);
constexpr HRESULT DISP_E_OVERFLOW = make_hresult(0x8002000Au);
constexpr HRESULT RPC_E_WRONG_THREAD = make_hresult(0x8001010Eu);

inline bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline bool FAILED(HRESULT hr) { return hr < 0; }

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr WORD DISPATCH_METHOD = 1;
constexpr WORD DISPATCH_PROPERTYGET = 2;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
};

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using IID = GUID;
using REFIID = const IID&;

inline bool IsEqualIID(REFIID a, REFIID b) { return std::memcmp(&a, &b, sizeof(IID)) == 0; }

inline constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                                     {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000,
                                      {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Fixed-point currency: the value times 10000.
struct CY {
  LONGLONG int64;
};

// sign (0 or 0x80) * (Hi32 * 2^64 + Lo64) / 10^scale, scale 0..28.
struct DECIMAL {
  USHORT wReserved;
  BYTE scale;
  BYTE sign;
  ULONG Hi32;
  ULONGLONG Lo64;
};
constexpr BYTE DECIMAL_NEG = 0x80;

struct IUnknown;
struct IDispatch;
struct ITypeInfo;  // never used: the bridge has no type information
struct EXCEPINFO;  // never looked at

struct VARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        CY cyVal;
        DOUBLE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        void* byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
      };
    };
    DECIMAL decVal;
  };
};
using VARIANTARG = VARIANT;

struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;  // objects go through Release, never delete
};

struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                  LCID lcid, DISPID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                           DISPPARAMS* params, VARIANT* result,
                                           EXCEPINFO* exception, UINT* arg_error) = 0;

 protected:
  ~IDispatch() = default;
};

// ---- OLE automation functions --------------------------------------------------------------

BSTR SysAllocStringLen(const OLECHAR* units, UINT length);  // null on failure
BSTR SysAllocString(const OLECHAR* units);                  // up to the first 0 unit
void SysFreeString(BSTR text);                              // null is fine
UINT SysStringLen(BSTR text);                               // 0 for null

void VariantInit(VARIANT* v);
// Frees what the variant owns (a BSTR, an interface reference) and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* v);
// To VT_R8 only, from the number types, VT_BOOL and VT_R8 itself.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

}  // namespace luabind::com
