#include "store/text.h"

#include <cstdint>
#include <type_traits>

namespace store {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void append_utf16(std::u16string& out, char32_t c) {
  if (c >= 0xD800 && c <= 0xDFFF) c = kReplacement;
  if (c > 0x10FFFF) c = kReplacement;
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

void append_utf8(std::string& out, char32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one code point from UTF-16 at i, advancing i; lone surrogates give U+FFFD.
char32_t next_utf16(std::u16string_view s, std::size_t& i) {
  char32_t c = s[i++];
  if (c >= 0xD800 && c <= 0xDBFF) {
    if (i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
      char32_t low = s[i++];
      return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    }
    return kReplacement;
  }
  if (c >= 0xDC00 && c <= 0xDFFF) return kReplacement;
  return c;
}

}  // namespace

std::u16string utf8_to_utf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    int extra;
    char32_t c;
    char32_t min;
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1, c = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, c = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, c = b & 0x07, min = 0x10000;
    } else {
      append_utf16(out, kReplacement);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    int got = 0;
    while (got < extra && j < s.size() && (static_cast<unsigned char>(s[j]) & 0xC0) == 0x80) {
      c = (c << 6) | (static_cast<unsigned char>(s[j]) & 0x3F);
      ++j;
      ++got;
    }
    // A truncated sequence is one replacement; the bytes after it are read afresh.
    if (got < extra || c < min) c = kReplacement;
    append_utf16(out, c);
    i = j;
  }
  return out;
}

std::string utf16_to_utf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) append_utf8(out, next_utf16(s, i));
  return out;
}

std::u16string wide_to_utf16(std::wstring_view s) {
  std::u16string out;
  out.reserve(s.size());
  if constexpr (sizeof(wchar_t) == 2) {
    for (wchar_t c : s) out.push_back(static_cast<char16_t>(c));
  } else {
    for (wchar_t c : s) append_utf16(out, static_cast<char32_t>(c));
  }
  return out;
}

namespace {

[[maybe_unused]] std::u16string to_utf16(const std::wstring& s) { return wide_to_utf16(s); }
[[maybe_unused]] std::u16string to_utf16(const std::string& s) { return utf8_to_utf16(s); }

template <class Native>
Native native_of(std::u16string_view s);
template <>
[[maybe_unused]] std::wstring native_of<std::wstring>(std::u16string_view s) {
  return utf16_to_wide(s);
}
template <>
[[maybe_unused]] std::string native_of<std::string>(std::u16string_view s) {
  return utf16_to_utf8(s);
}

}  // namespace

std::filesystem::path to_fs_path(std::u16string_view s) {
  return std::filesystem::path(native_of<std::filesystem::path::string_type>(s));
}

std::u16string from_fs_path(const std::filesystem::path& p) { return to_utf16(p.native()); }

std::string fs_path_utf8(const std::filesystem::path& p) { return utf16_to_utf8(from_fs_path(p)); }

std::wstring utf16_to_wide(std::u16string_view s) {
  std::wstring out;
  out.reserve(s.size());
  if constexpr (sizeof(wchar_t) == 2) {
    for (char16_t c : s) out.push_back(static_cast<wchar_t>(c));
  } else {
    std::size_t i = 0;
    while (i < s.size()) out.push_back(static_cast<wchar_t>(next_utf16(s, i)));
  }
  return out;
}

}  // namespace store
