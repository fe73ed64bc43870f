#include "hostbase/profile.h"

#include <cwctype>
#include <optional>
#include <vector>

namespace hostbase {
namespace {

bool is_blank(wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) || c == 0x1A; }

std::wstring trim(const std::wstring& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && is_blank(s[b])) ++b;
  while (e > b && is_blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool same_name(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i])))
      return false;
  return true;
}

// The value as the profile functions copy it out: a value quoted with matching ' or " loses its
// quotes, the closing one only when the whole value fits.
std::wstring copy_entry(const std::wstring& value, std::size_t max_chars) {
  std::wstring v = value;
  wchar_t quote = 0;
  if (v.size() > 1 && (v[0] == L'\'' || v[0] == L'"') && v.back() == v[0]) {
    quote = v[0];
    v.erase(0, 1);
  }
  const bool fits = v.size() <= max_chars;
  std::wstring out = v.substr(0, max_chars);
  if (quote && fits && !out.empty()) out.pop_back();
  return out;
}

}  // namespace

std::wstring ParseProfileString(const std::wstring& text, const std::wstring& section,
                                const std::wstring& key, const std::wstring& def_value,
                                std::size_t max_chars) {
  // The default loses trailing blanks, as the profile functions do.
  std::wstring def = def_value;
  while (!def.empty() && def.back() == L' ') def.pop_back();
  const std::wstring want_section = trim(section);
  const std::wstring want_key = trim(key);

  std::optional<std::wstring> current;  // the section the lines belong to (none before the first)
  bool in_wanted = false;
  bool seen_wanted = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find(L'\n', pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    if (line[0] == L'[') {
      const std::size_t close = line.rfind(L']');
      if (close != std::wstring::npos) {
        current = line.substr(1, close - 1);
        // Only the first section of a name counts.
        in_wanted = !seen_wanted && same_name(*current, want_section);
        if (in_wanted) seen_wanted = true;
        continue;
      }
    }
    if (!in_wanted) continue;
    const std::size_t eq = line.find(L'=');
    const std::wstring name = trim(eq == std::wstring::npos ? line : line.substr(0, eq));
    if (!same_name(name, want_key)) continue;
    if (eq == std::wstring::npos) return copy_entry(def, max_chars);  // a key without a value
    return copy_entry(trim(line.substr(eq + 1)), max_chars);
  }
  return copy_entry(def, max_chars);
}

std::wstring SetProfileString(const std::wstring& text, const std::wstring& section,
                              const std::wstring& key, const std::wstring& value) {
  const std::wstring want_section = trim(section);
  const std::wstring want_key = trim(key);
  std::size_t vb = 0;
  while (vb < value.size() && is_blank(value[vb])) ++vb;
  const std::wstring new_value = value.substr(vb);
  // Lines keep their own endings; new lines follow the file's style.
  const std::wstring eol = text.find(L"\r\n") != std::wstring::npos || text.empty() ? L"\r\n" : L"\n";

  bool in_wanted = false;
  bool seen_wanted = false;
  std::size_t insert_at = std::wstring::npos;  // after the wanted section's last non-blank line
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(L'\n', pos);
    const std::size_t next = end == std::wstring::npos ? text.size() : end + 1;
    if (end == std::wstring::npos) end = text.size();
    const std::wstring raw = text.substr(pos, end - pos);
    const std::wstring line = trim(raw);
    if (!line.empty() && line[0] == L'[' && line.rfind(L']') != std::wstring::npos) {
      if (in_wanted) break;  // the wanted section ended without the key
      const std::wstring name = line.substr(1, line.rfind(L']') - 1);
      in_wanted = !seen_wanted && same_name(name, want_section);
      if (in_wanted) {
        seen_wanted = true;
        insert_at = next;
      }
    } else if (in_wanted && !line.empty()) {
      const std::size_t eq = line.find(L'=');
      const std::wstring name = trim(eq == std::wstring::npos ? line : line.substr(0, eq));
      if (same_name(name, want_key)) {
        const bool had_cr = !raw.empty() && raw.back() == L'\r';
        return text.substr(0, pos) + name + L"=" + new_value + (had_cr ? L"\r" : L"") +
               text.substr(end);
      }
      insert_at = next;
    }
    pos = next;
  }
  const std::wstring entry = want_key + L"=" + new_value + eol;
  if (seen_wanted) {
    std::wstring head = text.substr(0, insert_at);
    // A last line without an ending gets one before the new entry.
    if (!head.empty() && head.back() != L'\n') head += eol;
    return head + entry + text.substr(insert_at);
  }
  std::wstring out = text;
  if (!out.empty() && out.back() != L'\n') out += eol;
  return out + L"[" + want_section + L"]" + eol + entry;
}

}  // namespace hostbase
