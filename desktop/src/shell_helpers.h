// The shell functions' parts that need no system and no Lua: text splitting, INI integers, show
// state and registry root names, file name patterns, the folder browser's start and folder walks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace desktop {

// The non-empty pieces between whole-string delimiters; empty text or delimiter gives none.
std::vector<std::string> SplitString(const std::string& text, const std::string& delimiter);

// The leading decimal integer of an INI value as the profile functions read it: blanks and a
// sign may lead, the digits wrap at 32 bits, 0 when there are none.
int ProfileInteger(const std::wstring& value);

// The window show state of a name ("SW_SHOWNORMAL" 1, ...), compared exactly; 0 for any other.
int ShowStateValue(const std::string& name);

// Registry root by name, without regard to case: 0 HKEY_CURRENT_USER, 1 HKEY_CLASSES_ROOT,
// 2 HKEY_LOCAL_MACHINE, 3 HKEY_USERS, 4 HKEY_CURRENT_CONFIG (only when allowed); -1 otherwise.
int RegistryRoot(const std::string& name, bool allow_current_config);

// Whether a file name matches a listing pattern as the system's listing matches it: "*" any
// run, "?" any one character, letters without regard to case, and "x.*" also takes "x".
bool MatchesFilePattern(const std::wstring& name, const std::wstring& pattern);

// The folder a folder browser starts in: `initial` cut back at its last "\" until what is left
// exists, ending with "\"; "" when nothing of it exists.
std::wstring FolderDialogStart(const std::wstring& initial,
                               const std::function<bool(const std::wstring&)>& exists);

// A folder walk: every entry below the folder, a folder's own entry before its contents. Links
// are listed (as the kind they point to) but never walked, and folders deeper than
// kMaxWalkDepth levels are listed but not walked either. Paths are folder + "\" + name. A name
// that would not read back as itself from such a path (on POSIX, one holding "\") is left out of
// the entries, with a log line, and so is what lies below it; its sizes still count.
constexpr int kEnumFiles = 1;
constexpr int kEnumFolders = 2;
constexpr int kMaxWalkDepth = 128;
struct FolderEntry {
  std::wstring path;
  int type;  // 1 file, 2 folder
};
// Adds the entries that `flags` asks for to out; adds the sizes of the plain files (not links)
// to *total_size when given.
void WalkFolder(const std::wstring& folder, int flags, std::vector<FolderEntry>& out,
                std::uint64_t* total_size);

}  // namespace desktop
