#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "store/codepage.h"

namespace store {

std::string utf16_to_cp936(std::u16string_view s) {
  std::string out;
  if (s.empty()) return out;
  iconv_t cd = iconv_open("CP936", "UTF-16LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  // Little-endian bytes, whatever the host order is.
  std::string in;
  in.reserve(s.size() * 2);
  for (char16_t c : s) {
    in.push_back(static_cast<char>(c & 0xFF));
    in.push_back(static_cast<char>(c >> 8));
  }
  char* src = in.data();
  std::size_t src_left = in.size();
  char buf[256];
  while (src_left > 0) {
    char* dst = buf;
    std::size_t dst_left = sizeof buf;
    const std::size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(buf, static_cast<std::size_t>(dst - buf));
    if (rc != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // Not expressible (or a broken surrogate pair): one "?" for the unit, as Windows does.
    out.push_back('?');
    const std::size_t skip = src_left >= 2 ? 2 : src_left;
    src += skip;
    src_left -= skip;
  }
  char* dst = buf;
  std::size_t dst_left = sizeof buf;
  iconv(cd, nullptr, nullptr, &dst, &dst_left);
  out.append(buf, static_cast<std::size_t>(dst - buf));
  iconv_close(cd);
  return out;
}

}  // namespace store
