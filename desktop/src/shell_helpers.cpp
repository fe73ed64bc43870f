#include "shell_helpers.h"

#include "desktop/log.h"
#include "hostbase/dir_tree.h"
#include "qv/path.h"
#include "qv/text.h"

#include <cctype>
#include <cstring>

namespace desktop {

std::vector<std::string> SplitString(const std::string& text, const std::string& delimiter) {
  std::vector<std::string> pieces;
  if (text.empty() || delimiter.empty()) return pieces;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t hit = text.find(delimiter, pos);
    if (hit == std::string::npos) hit = text.size();
    if (hit > pos) pieces.push_back(text.substr(pos, hit - pos));
    pos = hit + delimiter.size();
  }
  return pieces;
}

int ProfileInteger(const std::wstring& value) {
  std::size_t i = 0;
  while (i < value.size() && (value[i] == L' ' || value[i] == L'\t')) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == L'+' || value[i] == L'-')) negative = value[i++] == L'-';
  std::uint32_t n = 0;  // unsigned, so that overflow wraps as the system's reader does
  for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i)
    n = n * 10u + static_cast<std::uint32_t>(value[i] - L'0');
  if (negative) n = 0u - n;
  return static_cast<std::int32_t>(n);
}

int ShowStateValue(const std::string& name) {
  static const struct {
    const char* name;
    int value;
  } kStates[] = {
      {"SW_HIDE", 0},           {"SW_SHOWNORMAL", 1},      {"SW_SHOWMINIMIZED", 2},
      {"SW_MAXIMIZE", 3},       {"SW_SHOWMAXIMIZED", 3},   {"SW_SHOWNOACTIVATE", 4},
      {"SW_SHOW", 5},           {"SW_MINIMIZE", 6},        {"SW_SHOWMINNOACTIVE", 7},
      {"SW_SHOWNA", 8},         {"SW_RESTORE", 9},         {"SW_SHOWDEFAULT", 10},
  };
  for (const auto& s : kStates)
    if (name == s.name) return s.value;
  return 0;
}

int RegistryRoot(const std::string& name, bool allow_current_config) {
  static const char* const kRoots[] = {"HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
                                       "HKEY_LOCAL_MACHINE", "HKEY_USERS", "HKEY_CURRENT_CONFIG"};
  for (int i = 0; i < 5; ++i) {
    const char* root = kRoots[i];
    if (name.size() != std::strlen(root)) continue;
    bool same = true;
    for (std::size_t k = 0; k < name.size() && same; ++k)
      same = std::toupper(static_cast<unsigned char>(name[k])) == root[k];
    if (same) return (i == 4 && !allow_current_config) ? -1 : i;
  }
  return -1;
}

namespace {

// Case folding that does not depend on the C locale: ASCII, Latin-1, Greek and Cyrillic capitals,
// the letters of names that the other target's listing compares without case.
wchar_t fold(wchar_t c) {
  if ((c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
      (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F))
    return static_cast<wchar_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<wchar_t>(c + 0x50);
  return c;
}

bool match_from(const std::wstring& name, std::size_t n, const std::wstring& pattern,
                std::size_t p) {
  // Iterative "*" matching with one backtrack point: linear in practice, never exponential.
  std::size_t star = std::wstring::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == L'*') {
      star = p++;
      star_n = n;
    } else if (p < pattern.size() && (pattern[p] == L'?' || fold(pattern[p]) == fold(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::wstring::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

}  // namespace

bool MatchesFilePattern(const std::wstring& name, const std::wstring& pattern) {
  if (pattern.empty()) return false;
  if (match_from(name, 0, pattern, 0)) return true;
  // As the system's listing does: "x.*" also takes a name without an extension ("*.*" takes
  // every name).
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, L".*") == 0 &&
      name.find(L'.') == std::wstring::npos)
    return match_from(name, 0, pattern.substr(0, pattern.size() - 2), 0);
  return false;
}

std::wstring FolderDialogStart(const std::wstring& initial,
                               const std::function<bool(const std::wstring&)>& exists) {
  std::wstring path = initial;
  while (!path.empty() && !exists(path)) {
    const std::size_t cut = path.find_last_of(L'\\');
    if (cut == std::wstring::npos) return std::wstring();
    path.erase(cut);
  }
  if (path.empty()) return path;
  if (path.back() != L'\\') path += L'\\';
  return path;
}

namespace {

bool is_sep(wchar_t c) { return c == L'\\' || c == L'/'; }

// folder + "\" + name, without doubling a separator the folder already ends with.
std::wstring join(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && is_sep(folder.back())) return folder + name;
  return folder + L'\\' + name;
}

}  // namespace

void WalkFolder(const std::wstring& folder, int flags, std::vector<FolderEntry>& out,
                std::uint64_t* total_size) {
  struct walker {
    int flags;
    std::vector<FolderEntry>& out;
    std::uint64_t* total;
    // dir is the folder in the system's form, listed names joined to it as they are; text is
    // the same folder as the Lua code writes it, empty below a name that Lua cannot be given
    // (there only the sizes count).
    void walk(const std::wstring& dir, const std::wstring& text, int depth) {
      std::vector<hostbase::DirEntry> entries;
      if (!hostbase::ListNativeDir(dir, entries)) return;
      for (const auto& e : entries) {
        const std::wstring path = qv::path::join_native(dir, e.name);
        std::wstring path_text;
        if (!text.empty() && qv::path::has_windows_text(e.name)) {
          path_text = join(text, e.name);
        } else if (!text.empty() && flags != 0) {
          LogLine("EnumFile: left out " + qv::text::wide_to_utf8(path) +
                  ": the name holds \"\\\", which a path of the UI separates at");
        }
        const bool folder = e.is_dir || (e.is_link && e.target_is_dir);
        if (folder) {
          if ((flags & kEnumFolders) && !path_text.empty()) out.push_back({path_text, 2});
          // A link is listed but never walked: what it points to may lie outside the folder,
          // or above it (a loop).
          if (e.is_dir && depth < kMaxWalkDepth && (total || !path_text.empty()))
            walk(path, path_text, depth + 1);
        } else {
          if ((flags & kEnumFiles) && !path_text.empty()) out.push_back({path_text, 1});
          if (total && !e.is_link) *total += e.size;
        }
      }
    }
  } w{flags, out, total_size};
  if (!folder.empty()) w.walk(qv::path::to_native(folder), folder, 0);
}

}  // namespace desktop
