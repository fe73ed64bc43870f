#include <windows.h>

#include "store/codepage.h"

namespace store {

std::string utf16_to_cp936(std::u16string_view s) {
  if (s.empty() || s.size() > 0x3FFFFFFF) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(s.data());
  const int n = static_cast<int>(s.size());
  const int bytes = WideCharToMultiByte(936, 0, w, n, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(936, 0, w, n, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace store
