#include <windows.h>

#include "qv/codepage.h"

namespace qv::codepage {

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

// Bad bytes get the system's own replacement character.
std::u16string cp936_to_utf16(std::string_view s) {
  if (s.empty() || s.size() > 0x3FFFFFFF) return {};
  const int n = static_cast<int>(s.size());
  const int units = MultiByteToWideChar(936, 0, s.data(), n, nullptr, 0);
  if (units <= 0) return {};
  std::u16string out(static_cast<std::size_t>(units), u'\0');
  MultiByteToWideChar(936, 0, s.data(), n, reinterpret_cast<wchar_t*>(out.data()), units);
  return out;
}

}  // namespace qv::codepage
