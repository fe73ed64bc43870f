#include "android/utf8.h"

namespace tiv::android {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Length of the sequence announced by a lead byte, 0 for a byte that cannot start one.
std::size_t sequence_length(unsigned char b) {
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF4) return 4;
  return 0;
}

void append_code_point(std::wstring& out, char32_t cp) {
  if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<wchar_t>(cp));
  }
}

}  // namespace

std::wstring from_utf8(const std::string& s) {
  std::wstring out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t n = sequence_length(b);
    if (n == 1) {
      out.push_back(static_cast<wchar_t>(b));
      ++i;
      continue;
    }
    if (n == 0) {
      append_code_point(out, kReplacement);
      ++i;
      continue;
    }
    char32_t cp = b & (0xFF >> (n + 1));
    std::size_t k = 1;
    for (; k < n && i + k < s.size(); ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) break;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (k < n) {  // cut short: one replacement for the lead and its continuations
      append_code_point(out, kReplacement);
      i += k;
      continue;
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    const char32_t min_for_length[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < min_for_length[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      append_code_point(out, kReplacement);
      ++i;
      continue;
    }
    append_code_point(out, cp);
    i += n;
  }
  return out;
}

std::string to_utf8(const std::wstring& s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = static_cast<char32_t>(s[i]);
    if (sizeof(wchar_t) == 2) cp &= 0xFFFF;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size()) {
      const char32_t lo = static_cast<char32_t>(s[i + 1]) & 0xFFFF;
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      }
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

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
