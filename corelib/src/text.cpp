#include "qv/text.h"

#include <cstdint>
#include <cstring>

namespace qv::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void put_wide(std::wstring& out, char32_t cp) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(cp));
}

void put_utf8(std::string& out, char32_t cp) {
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

}  // namespace

namespace {

// The character that starts at p[i] (i < n) and the bytes it takes. A malformed sequence
// gives U+FFFD for its longest well-formed prefix (the practice of the system converters),
// with `well_formed` false.
std::size_t decode_one(const unsigned char* p, std::size_t i, std::size_t n, char32_t& cp,
                       bool& well_formed) {
  const unsigned c = p[i];
  well_formed = true;
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  well_formed = false;
  cp = kReplacement;
  if (c < 0xC2 || c > 0xF4) return 1;
  // The allowed range of the second byte excludes overlong forms, surrogates and values past
  // U+10FFFF, so a well-formed prefix is always a real character's prefix.
  const unsigned lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
  const unsigned hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
  const std::size_t need = c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
  char32_t v = c & (0x3F >> need);
  std::size_t k = 1;
  for (; k <= need && i + k < n; ++k) {
    const unsigned b = p[i + k];
    if (k == 1 ? (b < lo || b > hi) : (b & 0xC0) != 0x80) break;
    v = (v << 6) | (b & 0x3F);
  }
  if (k == need + 1) {
    cp = v;
    well_formed = true;
  }
  return k;
}

// Length of the run of ASCII bytes at the start of p[0, n), eight at a time.
std::size_t ascii_run(const unsigned char* p, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    if (word & 0x8080808080808080ull) break;
  }
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

}  // namespace

std::wstring utf8_to_wide(const char* s, std::size_t n) {
  std::wstring out;
  if (!s) return out;
  out.reserve(n);
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  std::size_t i = 0;
  while (i < n) {
    char32_t cp = 0;
    bool well_formed = true;
    i += decode_one(p, i, n, cp, well_formed);
    put_wide(out, cp);
  }
  return out;
}

std::string valid_utf8(std::string s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  std::size_t i = 0;
  for (;;) {
    i += ascii_run(p + i, n - i);
    if (i == n) return s;
    char32_t cp = 0;
    bool well_formed = true;
    const std::size_t len = decode_one(p, i, n, cp, well_formed);
    if (!well_formed) break;
    i += len;
  }
  // Rebuilt from the first malformed sequence on.
  std::string out(s, 0, i);
  while (i < n) {
    char32_t cp = 0;
    bool well_formed = true;
    i += decode_one(p, i, n, cp, well_formed);
    put_utf8(out, cp);
  }
  return out;
}

std::string wide_to_utf8(const std::wstring& w) {
  std::string out;
  out.reserve(w.size() * 3);
  for (std::size_t i = 0; i < w.size(); ++i) {
    char32_t cp = static_cast<char32_t>(w[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      cp &= 0xFFFF;
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < w.size()) {
        char32_t lo = static_cast<char32_t>(w[i + 1]) & 0xFFFF;
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          put_utf8(out, 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00));
          ++i;
          continue;
        }
      }
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
    put_utf8(out, cp);
  }
  return out;
}

std::u16string wide_to_utf16(const std::wstring& w) {
  std::u16string out;
  out.reserve(w.size());
  for (wchar_t c : w) {
    char32_t cp = static_cast<char32_t>(c);
    if (sizeof(wchar_t) == 2 || cp < 0x10000) {
      out.push_back(static_cast<char16_t>(cp & 0xFFFF));
    } else if (cp <= 0x10FFFF) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
    }
  }
  return out;
}

std::wstring utf16_to_wide(const std::u16string& u) {
  std::wstring out;
  out.reserve(u.size());
  for (std::size_t i = 0; i < u.size(); ++i) {
    char32_t cp = u[i];
    if (sizeof(wchar_t) == 4 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < u.size() &&
        u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (u[i + 1] - 0xDC00);
      ++i;
    }
    out.push_back(static_cast<wchar_t>(cp));
  }
  return out;
}

std::u16string utf8_to_utf16(const char* s, std::size_t n) { return wide_to_utf16(utf8_to_wide(s, n)); }

std::string utf16_to_utf8(const std::u16string& u) { return wide_to_utf8(utf16_to_wide(u)); }

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

namespace {
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string percent_decode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int hi = hex_value(text[i + 1]), lo = hex_value(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace qv::text
