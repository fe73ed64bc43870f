#include "android/utf8.h"

#include "qv/text.h"

namespace tiv::android {
namespace {

// Length of the sequence announced by a lead byte, 0 for a byte that cannot start one.
std::size_t sequence_length(unsigned char b) {
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF4) return 4;
  return 0;
}

}  // namespace

std::wstring from_utf8(const std::string& s) { return qv::text::utf8_to_wide(s); }

std::string to_utf8(const std::wstring& s) { return qv::text::wide_to_utf8(s); }

std::size_t utf8_prefix_length(const char* s, std::size_t size, std::size_t max_bytes) {
  if (size <= max_bytes) return size;
  // s[cut] is the first byte left out: while it continues a sequence, that sequence would be
  // split, so the cut moves back to its lead byte (a sequence has at most three continuations).
  auto continuation = [s](std::size_t i) { return (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80; };
  std::size_t cut = max_bytes;
  while (cut > 0 && max_bytes - cut < 3 && continuation(cut)) --cut;
  if (continuation(cut)) return max_bytes;  // not UTF-8 here: nothing to keep whole
  const std::size_t n = sequence_length(static_cast<unsigned char>(s[cut]));
  if (n == 0 || cut + n <= max_bytes) return max_bytes;  // stray continuation bytes only
  return cut;
}

}  // namespace tiv::android
