#include "qv/text.h"

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

std::wstring utf8_to_wide(const char* s, std::size_t n) {
  std::wstring out;
  if (!s) return out;
  out.reserve(n);
  std::size_t i = 0;
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > n) {
      put_wide(out, c < 0x80 ? c : kReplacement);
      ++i;
      continue;
    }
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    bool ok = true;
    for (int k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      put_wide(out, kReplacement);
      ++i;
      continue;
    }
    put_wide(out, cp);
    i += static_cast<std::size_t>(len);
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

}  // namespace qv::text
