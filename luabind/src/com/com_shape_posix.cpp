// The OLE automation functions of the Linux declaration (com_shape.h), with the Windows results
// for the cases the bridge meets.
#include "com_shape.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace luabind::com {

namespace {
constexpr std::size_t kPrefix = sizeof(std::uint32_t);
}  // namespace

BSTR SysAllocStringLen(const OLECHAR* units, UINT length) {
  // The byte count is 32 bits, as on Windows.
  if (length > (std::numeric_limits<std::uint32_t>::max() - kPrefix) / sizeof(OLECHAR) - 1)
    return nullptr;
  const std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  const auto count = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &count, kPrefix);
  auto* text = reinterpret_cast<OLECHAR*>(block + kPrefix);
  if (units) std::memcpy(text, units, bytes);
  else std::memset(text, 0, bytes);
  text[length] = 0;
  return text;
}

BSTR SysAllocString(const OLECHAR* units) {
  if (!units) return nullptr;
  UINT n = 0;
  while (units[n] != 0) ++n;
  return SysAllocStringLen(units, n);
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<unsigned char*>(text) - kPrefix);
}

UINT SysStringLen(BSTR text) {
  if (!text) return 0;
  std::uint32_t count = 0;
  std::memcpy(&count, reinterpret_cast<unsigned char*>(text) - kPrefix, kPrefix);
  return count / sizeof(OLECHAR);
}

void VariantInit(VARIANT* v) {
  std::memset(v, 0, sizeof(*v));
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (v->punkVal) v->punkVal->Release();
      break;
    default:
      break;
  }
  VariantInit(v);
  return S_OK;
}

namespace {

// The value of a DECIMAL; E_INVALIDARG for a scale above 28 or a sign other than 0 and 0x80.
HRESULT decimal_to_double(const DECIMAL& d, double* out) {
  if (d.scale > 28 || (d.sign & ~DECIMAL_NEG) != 0) return E_INVALIDARG;
  double value = static_cast<double>(d.Hi32) * 18446744073709551616.0 + static_cast<double>(d.Lo64);
  value /= std::pow(10.0, d.scale);
  *out = (d.sign & DECIMAL_NEG) ? -value : value;
  return S_OK;
}

HRESULT to_double(const VARIANT& v, double* out) {
  switch (v.vt) {
    case VT_I2: *out = v.iVal; return S_OK;
    case VT_I4: *out = v.lVal; return S_OK;
    case VT_R4: *out = v.fltVal; return S_OK;
    case VT_R8: *out = v.dblVal; return S_OK;
    case VT_CY: *out = static_cast<double>(v.cyVal.int64) / 10000.0; return S_OK;
    case VT_DECIMAL: return decimal_to_double(v.decVal, out);
    case VT_BOOL: *out = v.boolVal ? -1.0 : 0.0; return S_OK;
    case VT_I1: *out = static_cast<signed char>(v.cVal); return S_OK;
    case VT_UI1: *out = v.bVal; return S_OK;
    case VT_UI2: *out = v.uiVal; return S_OK;
    case VT_UI4: *out = v.ulVal; return S_OK;
    case VT_INT: *out = v.intVal; return S_OK;
    case VT_UINT: *out = v.uintVal; return S_OK;
    default: return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  if (vt != VT_R8) return DISP_E_TYPEMISMATCH;
  double value = 0;
  const HRESULT hr = to_double(*src, &value);
  if (FAILED(hr)) return hr;
  if (dest != src) VariantClear(dest);
  dest->vt = VT_R8;
  dest->dblVal = value;
  return S_OK;
}

}  // namespace luabind::com
